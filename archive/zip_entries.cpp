// The central directory's entries, each checked against the bytes held before it is read.
#include "archive/cp437.h"
#include "archive/zip_bytes.h"
#include "archive/zip_directory.h"

namespace {

using zip_bytes::kEntryLength;
using zip_bytes::kMarker32;
using zip_bytes::ReadLe;

constexpr quint32 kEntrySignature = 0x02014b50;
constexpr qint64 kLocalHeaderLength = 30;
constexpr quint16 kZip64ExtraId = 0x0001;

// Replaces the 32-bit values that carry the marker with the 64-bit ones of the ZIP64 extra
// field, which holds them in this order and only those. False when the field is missing or
// too short.
bool ReadZip64Extra(const QByteArray& bytes, qint64 at, qint64 length, quint64& uncompressed,
                    quint64& compressed, quint64& localOffset) {
    const qint64 end = at + length;
    while (end - at >= 4) {
        const auto id = quint16(ReadLe(bytes, at, 2));
        const auto size = qint64(ReadLe(bytes, at + 2, 2));
        at += 4;
        if (size > end - at) {
            return false;
        }
        if (id != kZip64ExtraId) {
            at += size;
            continue;
        }
        qint64 left = size;
        for (quint64* value : {&uncompressed, &compressed, &localOffset}) {
            if (*value != kMarker32) {
                continue;
            }
            if (left < 8) {
                return false;
            }
            *value = ReadLe(bytes, at, 8);
            at += 8;
            left -= 8;
        }
        return true;
    }
    return false;
}

ZipDirectoryResult Failed(const QString& error) {
    ZipDirectoryResult result;
    result.error = error;
    return result;
}

}  // namespace

quint32 ZipEntry::unixMode() const {
    const int system = madeBy >> 8;
    return system == 3 || system == 19 ? externalAttributes >> 16 : 0;  // Unix, macOS
}

bool ZipEntry::isSymlink() const {
    return (unixMode() & 0170000) == 0120000;
}

QDateTime ZipEntry::modified() const {
    const QDate date(1980 + (dosDate >> 9), (dosDate >> 5) & 0xF, dosDate & 0x1F);
    const QTime time(dosTime >> 11, (dosTime >> 5) & 0x3F, (dosTime & 0x1F) * 2);
    if (!date.isValid() || !time.isValid()) {
        return {};
    }
    return QDateTime(date, time);
}

ZipDirectoryResult ReadZipDirectory(const QByteArray& directory,
                                    const ZipDirectoryLocation& location, qint64 fileSize) {
    // The location may come from elsewhere than FindZipDirectory: check it again.
    if (location.size != directory.size() || location.size > kZipDirectoryLimit) {
        return Failed(QStringLiteral("the central directory read has the wrong length"));
    }
    if (location.offset < 0 || location.offset > fileSize - location.size ||
        location.bytesInFront < 0 || location.bytesInFront > location.offset) {
        return Failed(QStringLiteral("the central directory lies outside the file"));
    }
    if (location.entryCount < 0 || location.entryCount > location.size / kEntryLength) {
        return Failed(QStringLiteral("more entries are counted than the directory can hold"));
    }
    // Local headers and their data lie before the directory, offsets counted from the
    // archive's own start.
    const auto archiveDirectoryOffset = quint64(location.offset - location.bytesInFront);

    ZipDirectoryResult result;
    result.entries.reserve(location.entryCount);
    qint64 at = 0;
    for (qint64 i = 1; i <= location.entryCount; ++i) {
        const QString which = QStringLiteral("entry %1: ").arg(i);
        if (directory.size() - at < kEntryLength) {
            return Failed(which + QStringLiteral("the directory ends inside it"));
        }
        if (ReadLe(directory, at, 4) != kEntrySignature) {
            return Failed(which + QStringLiteral("no central directory signature"));
        }
        const auto nameLength = qint64(ReadLe(directory, at + 28, 2));
        const auto extraLength = qint64(ReadLe(directory, at + 30, 2));
        const auto commentLength = qint64(ReadLe(directory, at + 32, 2));
        const qint64 next = at + kEntryLength + nameLength + extraLength + commentLength;
        if (next > directory.size()) {
            return Failed(which + QStringLiteral("its name, extra field or comment runs past "
                                                 "the directory's end"));
        }
        ZipEntry entry;
        entry.madeBy = quint16(ReadLe(directory, at + 4, 2));
        entry.flags = quint16(ReadLe(directory, at + 8, 2));
        entry.method = quint16(ReadLe(directory, at + 10, 2));
        entry.dosTime = quint16(ReadLe(directory, at + 12, 2));
        entry.dosDate = quint16(ReadLe(directory, at + 14, 2));
        entry.crc32 = quint32(ReadLe(directory, at + 16, 4));
        entry.compressedSize = ReadLe(directory, at + 20, 4);
        entry.uncompressedSize = ReadLe(directory, at + 24, 4);
        entry.externalAttributes = quint32(ReadLe(directory, at + 38, 4));
        quint64 localOffset = ReadLe(directory, at + 42, 4);
        const QByteArray name = directory.mid(at + kEntryLength, nameLength);
        entry.name = entry.utf8Name() ? QString::fromUtf8(name) : Cp437ToUnicode(name);

        if ((entry.compressedSize == kMarker32 || entry.uncompressedSize == kMarker32 ||
             localOffset == kMarker32) &&
            !ReadZip64Extra(directory, at + kEntryLength + nameLength, extraLength,
                            entry.uncompressedSize, entry.compressedSize, localOffset)) {
            return Failed(which + QStringLiteral("its ZIP64 extra field is missing or short"));
        }
        if (localOffset > archiveDirectoryOffset ||
            archiveDirectoryOffset - localOffset < quint64(kLocalHeaderLength)) {
            return Failed(which + QStringLiteral("its local header would lie past the "
                                                 "directory's start"));
        }
        if (entry.compressedSize >
            archiveDirectoryOffset - localOffset - quint64(kLocalHeaderLength)) {
            return Failed(which + QStringLiteral("its data would run past the directory's "
                                                 "start"));
        }
        entry.localHeaderOffset = qint64(localOffset) + location.bytesInFront;
        result.entries.append(std::move(entry));
        at = next;
    }
    return result;
}
