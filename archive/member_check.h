#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>

// A member's bytes as they come out of the archive, held to what the directory declares: no
// more than its size (a member that inflates beyond it is damaged or built to fill the disk,
// and is stopped at once), and at the end exactly that size and CRC-32.
class MemberCheck {
public:
    MemberCheck(quint64 declaredSize, quint32 declaredCrc);

    // Counts the bytes in; false, counting nothing, when they pass the declared size.
    bool take(const char* bytes, size_t length);
    // All of it came, and it is what the directory says.
    bool complete() const { return length_ == declaredSize_ && crc_ == declaredCrc_; }

private:
    quint64 declaredSize_;
    quint32 declaredCrc_;
    quint64 length_ = 0;
    quint32 crc_;
};

// What an extraction says of a member that failed these checks.
inline QString MemberMismatchText() {
    return QStringLiteral("length or CRC-32 wrong");
}
inline QString MemberOverflowMessage(const QString& name) {
    return QStringLiteral("%1: holds more data than the archive declares; extraction stopped")
        .arg(name);
}
