// A whole file read as the remote preview reads it: the tail, any bytes asked for in front of
// it, then the directory. Whatever the bytes, the reader answers within them, and what it
// accepts holds together.
#include <cstddef>
#include <cstdint>

#include "archive/zip_directory.h"
#include "archive/zip_folders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QByteArray tail = file.right(ZipTailLength(file.size()));
    ZipTailResult found = FindZipDirectory(file.size(), tail);
    for (int fetch = 0; fetch < 2 && found.status == ZipTailResult::Status::NeedMore; ++fetch) {
        const qint64 tailStart = file.size() - tail.size();
        if (found.fetchOffset < 0 || found.fetchLength <= 0 ||
            found.fetchOffset + found.fetchLength != tailStart) {
            __builtin_trap();
        }
        tail.prepend(file.mid(found.fetchOffset, found.fetchLength));
        found = FindZipDirectory(file.size(), tail);
    }
    if (found.status != ZipTailResult::Status::Found) {
        return 0;
    }
    const ZipDirectoryLocation& at = found.location;
    if (at.offset < 0 || at.size < 0 || at.offset + at.size > file.size() || at.bytesInFront < 0 ||
        at.bytesInFront > at.offset) {
        __builtin_trap();
    }
    const ZipDirectoryResult read = ReadZipDirectory(file.mid(at.offset, at.size), at, file.size());
    if (!read.ok()) {
        return 0;
    }
    if (read.entries.size() != at.entryCount) {
        __builtin_trap();
    }
    for (const ZipEntry& e : read.entries) {
        if (e.localHeaderOffset < at.bytesInFront || e.localHeaderOffset >= at.offset) {
            __builtin_trap();
        }
        (void)ZipCompressionRatio(e);
        (void)e.modified();
    }
    const ZipFolderTree tree = BuildZipFolderTree(read.entries);
    for (qsizetype folder = 0; folder < tree.folders.size(); ++folder) {
        if (FindZipFolder(tree, ZipFolderPath(tree, folder)) < 0) {
            __builtin_trap();
        }
    }
    return 0;
}
