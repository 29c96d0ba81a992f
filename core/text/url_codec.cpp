#include "core/text/url_codec.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

QString EncodeUrl(const QString& text) {
    const QByteArray in = text.toLocal8Bit();
    QByteArray out;
    out.reserve(in.size());
    for (const char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '%' || c == '&' || c >= 44) {
            out.append(ch);
        } else {
            out.append('%');
            out.append(QByteArray::number(c, 16).toUpper());
        }
    }
    return QString::fromLocal8Bit(out);
}

QString DecodeUrl(const QString& text) {
    const QByteArray in = text.toLocal8Bit();
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out.append(in[i]);
            continue;
        }
        // A pair that is not two hex digits (or is cut off at the end) gives byte 0.
        const int hi = i + 1 < in.size() ? HexDigit(in[i + 1]) : -1;
        const int lo = i + 2 < in.size() ? HexDigit(in[i + 2]) : -1;
        out.append(hi >= 0 && lo >= 0 ? static_cast<char>(hi * 16 + lo) : '\0');
        i += 2;
    }
    return QString::fromLocal8Bit(out);
}
