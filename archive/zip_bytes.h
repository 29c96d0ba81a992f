#pragma once

// What the directory reader's files share: the records' fixed lengths and little-endian reads.

#include <QByteArray>
#include <QtGlobal>

namespace ZipBytes {

inline constexpr qint64 kEntryLength = 46;        // the fixed part of a directory entry
inline constexpr qint64 kLocalHeaderLength = 30;  // the fixed part of a local header
inline constexpr quint64 kMarker32 = 0xFFFFFFFF;  // "the value is in the ZIP64 record"

// Little-endian number of `width` bytes at `at`; the caller has checked the bytes are there.
inline quint64 ReadLe(const QByteArray& bytes, qint64 at, int width) {
    quint64 value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

}  // namespace ZipBytes
