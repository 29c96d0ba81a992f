#pragma once

#include <QByteArray>

#include "archive/zip_directory.h"

// Reads an archive held in memory the way the remote preview reads one by ranges: the tail,
// the bytes the reader asks for in front of it, then the directory.
struct PreviewRead {
    ZipDirectoryLocation location;
    ZipDirectoryResult directory;
    int extraFetches = 0;
    QString error;  // from finding the directory; the entries' own error is in `directory`
};

inline PreviewRead ReadAsPreview(const QByteArray& file) {
    PreviewRead read;
    const qint64 size = file.size();
    QByteArray tail = file.right(ZipTailLength(size));
    for (;;) {
        const ZipTailResult found = FindZipDirectory(size, tail);
        if (found.status == ZipTailResult::Status::Failed) {
            read.error = found.error;
            return read;
        }
        if (found.status == ZipTailResult::Status::Found) {
            read.location = found.location;
            break;
        }
        // Each fetch must end where the tail starts and bring something new.
        const qint64 tailStart = size - tail.size();
        if (found.fetchLength <= 0 || found.fetchOffset + found.fetchLength != tailStart ||
            ++read.extraFetches > 2) {
            read.error = QStringLiteral("bad fetch request");
            return read;
        }
        tail.prepend(file.mid(found.fetchOffset, found.fetchLength));
    }
    read.directory =
        ReadZipDirectory(file.mid(read.location.offset, read.location.size), read.location, size);
    return read;
}
