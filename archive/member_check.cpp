#include "archive/member_check.h"

#include <zlib.h>

MemberCheck::MemberCheck(quint64 declaredSize, quint32 declaredCrc)
    : declaredSize_(declaredSize), declaredCrc_(declaredCrc), crc_(crc32(0, nullptr, 0)) {}

bool MemberCheck::take(const char* bytes, size_t length) {
    if (length > declaredSize_ - length_) {
        return false;
    }
    length_ += length;
    // zlib counts in uInt: a larger piece goes in parts.
    while (length > 0) {
        const auto part = static_cast<uInt>(qMin<size_t>(length, 1u << 30));
        crc_ = quint32(crc32(crc_, reinterpret_cast<const Bytef*>(bytes), part));
        bytes += part;
        length -= part;
    }
    return true;
}
