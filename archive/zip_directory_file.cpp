// The central directory of an archive on disk, read as the remote preview reads it.
#include <QFile>
#include <optional>

#include "archive/zip_directory.h"

namespace {

// ZIP64 records lie just before the end record; more reads than this is no archive.
constexpr int kMaxExtraReads = 3;

ZipDirectoryResult Failed(const QString& error) {
    ZipDirectoryResult result;
    result.error = error;
    return result;
}

}  // namespace

ZipDirectoryResult ReadZipDirectoryFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Failed(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    }
    const qint64 size = file.size();
    // Exactly `length` bytes at `at`, or nothing.
    auto read = [&file](qint64 at, qint64 length) -> std::optional<QByteArray> {
        QByteArray bytes;
        if (file.seek(at)) {
            bytes = file.read(length);
        }
        return bytes.size() == length ? std::optional(bytes) : std::nullopt;
    };
    std::optional<QByteArray> tail = read(size - ZipTailLength(size), ZipTailLength(size));
    for (int reads = 0; tail && reads <= kMaxExtraReads; ++reads) {
        const ZipTailResult found = FindZipDirectory(size, *tail);
        switch (found.status) {
            case ZipTailResult::Status::Failed:
                return Failed(found.error);
            case ZipTailResult::Status::NeedMore:
                if (std::optional<QByteArray> more = read(found.fetchOffset, found.fetchLength)) {
                    tail->prepend(*more);
                } else {
                    tail.reset();
                }
                continue;
            case ZipTailResult::Status::Found:
                if (std::optional<QByteArray> directory =
                        read(found.location.offset, found.location.size)) {
                    return ReadZipDirectory(*directory, found.location, size);
                }
                tail.reset();
                continue;
        }
    }
    return Failed(QStringLiteral("the end records cannot be read"));
}
