#include "engine/http/base64.h"

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

QByteArray Base64(const QString& text) {
    return Base64Bytes(text.toUtf8());
}

QByteArray Base64Bytes(const QByteArray& bytes) {
    QByteArray out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto byteAt = [&bytes](qsizetype i) -> unsigned {
        return static_cast<unsigned char>(bytes[i]);
    };
    qsizetype i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned group = byteAt(i) << 16 | byteAt(i + 1) << 8 | byteAt(i + 2);
        out += Alphabet[group >> 18 & 63];
        out += Alphabet[group >> 12 & 63];
        out += Alphabet[group >> 6 & 63];
        out += Alphabet[group & 63];
    }
    const qsizetype rest = bytes.size() - i;
    if (rest == 1) {
        const unsigned group = byteAt(i) << 16;
        out += Alphabet[group >> 18 & 63];
        out += Alphabet[group >> 12 & 63];
        out += "==";
    } else if (rest == 2) {
        const unsigned group = byteAt(i) << 16 | byteAt(i + 1) << 8;
        out += Alphabet[group >> 18 & 63];
        out += Alphabet[group >> 12 & 63];
        out += Alphabet[group >> 6 & 63];
        out += '=';
    }
    return out;
}
