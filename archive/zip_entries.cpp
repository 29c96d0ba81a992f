// The central directory's entries, each checked against the bytes held before it is read.
#include <zlib.h>

#include <QStringDecoder>
#include <optional>
#include <utility>

#include "archive/cp437.h"
#include "archive/member_path.h"
#include "archive/zip_bytes.h"
#include "archive/zip_directory.h"

namespace {

using ZipBytes::kEntryLength;
using ZipBytes::kLocalHeaderLength;
using ZipBytes::kMarker32;
using ZipBytes::ReadLe;

constexpr quint32 kEntrySignature = 0x02014b50;
constexpr quint16 kZip64ExtraId = 0x0001;
constexpr quint16 kUnicodePathExtraId = 0x7075;

// Where the extra field `id` lies among the `length` bytes of extra fields at `at`: the offset
// and size of its data. None when absent, or when the fields do not hold together before it.
std::optional<std::pair<qint64, qint64>> FindExtra(const QByteArray& bytes, qint64 at,
                                                   qint64 length, quint16 id) {
    const qint64 end = at + length;
    while (end - at >= 4) {
        const auto found = quint16(ReadLe(bytes, at, 2));
        const auto size = qint64(ReadLe(bytes, at + 2, 2));
        at += 4;
        if (size > end - at) {
            return std::nullopt;
        }
        if (found == id) {
            return std::pair{at, size};
        }
        at += size;
    }
    return std::nullopt;
}

// Replaces the 32-bit values that carry the marker with the 64-bit ones of the ZIP64 extra
// field, which holds them in this order and only those. False when the field is missing or
// too short.
bool ReadZip64Extra(const QByteArray& bytes, qint64 at, qint64 length, quint64& uncompressed,
                    quint64& compressed, quint64& localOffset) {
    const auto field = FindExtra(bytes, at, length, kZip64ExtraId);
    if (!field) {
        return false;
    }
    auto [from, left] = *field;
    for (quint64* value : {&uncompressed, &compressed, &localOffset}) {
        if (*value != kMarker32) {
            continue;
        }
        if (left < 8) {
            return false;
        }
        *value = ReadLe(bytes, from, 8);
        from += 8;
        left -= 8;
    }
    return true;
}

// Info-ZIP's zip writes names as they are on disk, UTF-8 on Linux, without the UTF-8 flag, and
// puts the name again in a Unicode path field; that one counts while the CRC-32 it carries is
// the stored name's, that is while no other tool renamed the member since.
std::optional<QString> UnicodePathExtra(const QByteArray& bytes, qint64 at, qint64 length,
                                        const QByteArray& storedName) {
    const auto field = FindExtra(bytes, at, length, kUnicodePathExtraId);
    if (!field || field->second < 5 || ReadLe(bytes, field->first, 1) != 1) {
        return std::nullopt;
    }
    const auto nameCrc = quint32(ReadLe(bytes, field->first + 1, 4));
    if (nameCrc !=
        crc32(0, reinterpret_cast<const Bytef*>(storedName.constData()), uInt(storedName.size()))) {
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8(bytes.mid(field->first + 5, field->second - 5));
    if (utf8.hasError()) {
        return std::nullopt;
    }
    return name;
}

// A name without the UTF-8 flag: Info-ZIP's zip on Linux and many other tools store UTF-8
// names so, and unzip and libzip read them as UTF-8 when they are valid UTF-8. The preview
// names members as the extraction will; bytes that are not UTF-8 are code page 437.
QString UnflaggedName(const QByteArray& stored) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8(stored);
    return utf8.hasError() ? Cp437ToUnicode(stored) : name;
}

// The name stored at `at`, as extraction names the member. One holding a control character,
// stored or decoded, is refused, and shown with U+FFFD in its place.
void ReadName(const QByteArray& directory, qint64 at, qint64 nameLength, qint64 extraLength,
              ZipEntry& entry) {
    const QByteArray name = directory.mid(at, nameLength);
    if (entry.utf8Name()) {
        entry.name = QString::fromUtf8(name);
    } else if (auto unicode = UnicodePathExtra(directory, at + nameLength, extraLength, name)) {
        entry.name = *std::move(unicode);
    } else {
        entry.name = UnflaggedName(name);
    }
    if (HasControlCharacter(QByteArrayView(name)) || HasControlCharacter(entry.name)) {
        entry.nameRefused = ControlCharacterReason();
        entry.name = VisibleMemberName(entry.name);
    }
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
        ReadName(directory, at + kEntryLength, nameLength, extraLength, entry);

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
