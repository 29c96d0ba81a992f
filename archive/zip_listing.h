#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "archive/zip_directory.h"
#include "archive/zip_folders.h"

// The rows a preview list shows: every file of the archive, or what one folder holds.
struct ZipListRow {
    qsizetype entry = -1;  // the member shown; -1 for a folder that only members' paths name
    bool isFolder = false;
    QString folderPath;  // a folder's own path ("a/b"), the one double-clicking opens
    QString text;        // "c.txt", or "+b" for a folder
    quint64 packed = 0;  // 0 for a folder, which shows "DIR"
    quint64 normal = 0;
    std::optional<int> ratio;
    QString path;  // where the row lies: "a/b/" by file, "a/b" by folder, empty at the root
};

struct ZipListing {
    QList<ZipListRow> rows;
    // The files listed (folders left out) and their sizes, for the summary line.
    qsizetype count = 0;
    quint64 normalTotal = 0;
    quint64 packedTotal = 0;
};

// Every file (folders left out), in directory order.
ZipListing ListZipFiles(const QList<ZipEntry>& entries);
// The folder `folder` ("a/b", "" for the root): its sub-folders first, named by an entry or
// only by the paths below them, then its files. A folder that does not exist lists nothing.
ZipListing ListZipFolder(const QList<ZipEntry>& entries, const ZipFolderTree& tree,
                         const QString& folder);
// The folder above `folder`: "a" for "a/b", the root for "a".
QString ZipParentFolder(const QString& folder);
