#include "archive/zip_directory.h"

#include <optional>

#include "archive/cp437.h"
#include "archive/zip_bytes.h"

namespace {

using ZipBytes::kEntryLength;
using ZipBytes::kMarker32;
using ZipBytes::ReadLe;

constexpr quint32 kEndSignature = 0x06054b50;
constexpr quint32 kLocatorSignature = 0x07064b50;
constexpr quint32 kZip64EndSignature = 0x06064b50;
constexpr qint64 kEndLength = 22;
constexpr qint64 kLocatorLength = 20;
constexpr qint64 kZip64EndLength = 56;  // without the extensible data that may follow
// A ZIP64 end record farther than this before its locator is not looked for: its extensible
// data would have to be that large.
constexpr qint64 kZip64EndReach = 1024 * 1024;

// The bytes held of the file's tail, addressed by file position.
struct Tail {
    const QByteArray& bytes;
    qint64 start;

    bool holds(qint64 at, qint64 length) const {
        return at >= start && at - start <= bytes.size() - length;
    }
    quint16 u16(qint64 at) const { return quint16(ReadLe(bytes, at - start, 2)); }
    quint32 u32(qint64 at) const { return quint32(ReadLe(bytes, at - start, 4)); }
    quint64 u64(qint64 at) const { return ReadLe(bytes, at - start, 8); }
};

ZipTailResult Failed(const QString& error) {
    ZipTailResult result;
    result.status = ZipTailResult::Status::Failed;
    result.error = error;
    return result;
}

// The caller must read from `from` up to where its tail starts.
ZipTailResult NeedFrom(qint64 from, qint64 tailStart) {
    ZipTailResult result;
    result.status = ZipTailResult::Status::NeedMore;
    result.fetchOffset = qMax<qint64>(0, from);
    result.fetchLength = tailStart - result.fetchOffset;
    return result;
}

// The end record whose comment ends exactly at the file's end; of several, the first, since
// the others lie inside its comment. Else the last whose comment fits in the file (some
// writers leave bytes after it). -1 when there is none.
qint64 FindEndRecord(const Tail& tail, qint64 fileSize) {
    const qint64 lowest = qMax(tail.start, fileSize - kZipTailLength);
    qint64 exact = -1;
    qint64 fallback = -1;
    for (qint64 at = fileSize - kEndLength; at >= lowest; --at) {
        if (tail.u32(at) != kEndSignature) {
            continue;
        }
        const qint64 end = at + kEndLength + tail.u16(at + 20);
        if (end == fileSize) {
            exact = at;
        } else if (end < fileSize && fallback < 0) {
            fallback = at;
        }
    }
    return exact >= 0 ? exact : fallback;
}

// The ZIP64 end record the locator at `locator` leads to, put in `record`; else why not, or
// the bytes in front of the tail still needed to tell.
std::optional<ZipTailResult> FindZip64Record(const Tail& t, qint64 locator, qint64& record) {
    record = -1;
    // The record usually sits right before the locator, where it is found even when data
    // in front of the archive has shifted the offset the locator stores.
    const qint64 adjacent = locator - kZip64EndLength;
    if (adjacent >= 0) {
        if (!t.holds(adjacent, kZip64EndLength)) {
            return NeedFrom(adjacent, t.start);
        }
        if (t.u32(adjacent) == kZip64EndSignature &&
            t.u64(adjacent + 4) == quint64(kZip64EndLength - 12)) {
            record = adjacent;
        }
    }
    if (record < 0) {
        const quint64 stored = t.u64(locator + 8);
        // It must end before the locator begins.
        if (adjacent < 0 || stored > quint64(adjacent) ||
            quint64(locator) - stored > quint64(kZip64EndReach)) {
            return Failed(QStringLiteral("the ZIP64 locator points outside the archive"));
        }
        record = qint64(stored);
        if (!t.holds(record, kZip64EndLength)) {
            return NeedFrom(record, t.start);
        }
        if (t.u32(record) != kZip64EndSignature) {
            return Failed(QStringLiteral("no ZIP64 end record where the locator points"));
        }
    }
    return std::nullopt;
}

// The directory the end records describe, once its size, place and count are checked.
ZipTailResult Located(quint64 count, quint64 directorySize, quint64 directoryOffset,
                      qint64 directoryEnd, bool zip64) {
    if (directorySize > quint64(kZipDirectoryLimit)) {
        return Failed(QStringLiteral("the central directory is larger than 64 MiB"));
    }
    if (directorySize > quint64(directoryEnd) ||
        directoryOffset > quint64(directoryEnd) - directorySize) {
        return Failed(QStringLiteral("the central directory would overlap its end record"));
    }
    if (count > directorySize / kEntryLength) {
        return Failed(
            QStringLiteral("the end record counts more entries than the directory "
                           "can hold"));
    }
    ZipTailResult result;
    result.status = ZipTailResult::Status::Found;
    result.location.size = qint64(directorySize);
    result.location.offset = directoryEnd - result.location.size;
    result.location.bytesInFront = result.location.offset - qint64(directoryOffset);
    result.location.entryCount = qint64(count);
    result.location.zip64 = zip64;
    return result;
}

}  // namespace

ZipTailResult FindZipDirectory(qint64 fileSize, const QByteArray& tail) {
    if (fileSize < 0 || tail.size() > fileSize) {
        return Failed(QStringLiteral("the tail read is longer than the file"));
    }
    if (fileSize < kEndLength) {
        return Failed(QStringLiteral("the file is too short for a ZIP archive"));
    }
    const Tail t{tail, fileSize - tail.size()};
    const qint64 end = FindEndRecord(t, fileSize);
    if (end < 0) {
        if (t.start > fileSize - ZipTailLength(fileSize)) {
            return NeedFrom(fileSize - ZipTailLength(fileSize), t.start);
        }
        return Failed(QStringLiteral("no end-of-central-directory record: not a ZIP archive"));
    }

    const quint16 disk = t.u16(end + 4);
    const quint16 directoryDisk = t.u16(end + 6);
    const quint16 diskEntries = t.u16(end + 8);
    const quint16 entries = t.u16(end + 10);
    const quint32 size = t.u32(end + 12);
    const quint32 offset = t.u32(end + 16);
    const bool marked = disk == 0xFFFF || directoryDisk == 0xFFFF || diskEntries == 0xFFFF ||
                        entries == 0xFFFF || size == kMarker32 || offset == kMarker32;

    const qint64 locator = end - kLocatorLength;
    bool zip64 = false;
    if (locator >= 0) {
        if (!t.holds(locator, kLocatorLength)) {
            return NeedFrom(locator - kZip64EndLength, t.start);
        }
        zip64 = t.u32(locator) == kLocatorSignature;
    }
    if (marked && !zip64) {
        return Failed(QStringLiteral("the end record asks for ZIP64 records that are missing"));
    }

    quint64 count = entries;
    quint64 directorySize = size;
    quint64 directoryOffset = offset;
    qint64 directoryEnd = end;
    if (zip64) {
        if (t.u32(locator + 4) != 0 || t.u32(locator + 16) > 1) {
            return Failed(QStringLiteral("archives split over several disks are not read"));
        }
        qint64 record = -1;
        if (std::optional<ZipTailResult> stop = FindZip64Record(t, locator, record)) {
            return *stop;
        }
        if (t.u32(record + 16) != 0 || t.u32(record + 20) != 0 ||
            t.u64(record + 24) != t.u64(record + 32)) {
            return Failed(QStringLiteral("archives split over several disks are not read"));
        }
        count = t.u64(record + 32);
        directorySize = t.u64(record + 40);
        directoryOffset = t.u64(record + 48);
        directoryEnd = record;
    } else if (disk != 0 || directoryDisk != 0 || diskEntries != entries) {
        return Failed(QStringLiteral("archives split over several disks are not read"));
    }

    return Located(count, directorySize, directoryOffset, directoryEnd, zip64);
}
