#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

#include "archive/zip_directory.h"

// What a preview list needs besides the entries: the folders (named by entries or implied by
// their paths), what each folder holds, and the compression ratio.

// Folder of an entry, without the final "/": "a/b" for "a/b/c.txt" and for the folder
// "a/b/c/"; empty at the archive's root.
QString ZipEntryFolder(const ZipEntry& entry);
// The last part of the entry's name: "c.txt", or "c" for the folder "a/b/c/".
QString ZipEntryBaseName(const ZipEntry& entry);

struct ZipFolderTree {
    struct Folder {
        QString name;              // one part of the path; empty for the root
        qsizetype parent = -1;     // -1 for the root
        qsizetype entry = -1;      // the folder's own entry when the archive has one
        QList<qsizetype> folders;  // sub-folders, in the order first met
        QList<qsizetype> files;    // entries that are not folders, in directory order
    };
    QList<Folder> folders;  // the root first
};

// Built in one pass whose work grows with the names' total length, however deep the paths.
ZipFolderTree BuildZipFolderTree(const QList<ZipEntry>& entries);
// "a/b" for a folder; empty for the root.
QString ZipFolderPath(const ZipFolderTree& tree, qsizetype folder);
// The folder at "a/b" ("" is the root); -1 when there is none.
qsizetype FindZipFolder(const ZipFolderTree& tree, QStringView path);

// The share of the size saved, as a percentage: 75 for 1,000 bytes packed to 250, negative when
// packing grew the member. None when the member is empty.
std::optional<int> ZipCompressionRatio(quint64 compressed, quint64 uncompressed);
inline std::optional<int> ZipCompressionRatio(const ZipEntry& entry) {
    return ZipCompressionRatio(entry.compressedSize, entry.uncompressedSize);
}
