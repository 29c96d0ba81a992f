#include "engine/assembly/plain_file_name.h"

namespace {

// An extension longer than this is more likely part of the name than a type, and not worth
// giving up the name for.
constexpr qsizetype MaxKeptExtensionBytes = 32;

const QString FallbackName = QStringLiteral("download");

bool IsBidiControl(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C;
}

qsizetype Utf8Bytes(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// Code units of the code point starting at `i`: 2 for a surrogate pair, else 1.
qsizetype CodeUnits(const QString& text, qsizetype i) {
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

char32_t CodePointAt(const QString& text, qsizetype i) {
    return CodeUnits(text, i) == 2 ? QChar::surrogateToUcs4(text[i], text[i + 1])
                                   : char32_t(text[i].unicode());
}

qsizetype Utf8Length(const QString& text) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); i += CodeUnits(text, i)) {
        bytes += Utf8Bytes(CodePointAt(text, i));
    }
    return bytes;
}

// The longest start of `text` whose UTF-8 form fits in `limit` bytes.
QString CutToBytes(const QString& text, qsizetype limit) {
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype next = bytes + Utf8Bytes(CodePointAt(text, i));
        if (next > limit) {
            break;
        }
        bytes = next;
        i += CodeUnits(text, i);
    }
    return text.left(i);
}

}  // namespace

QString FitFileName(const QString& head, const QString& tail) {
    const qsizetype tailBytes = Utf8Length(tail);
    if (tailBytes > MaxFileNameBytes) {
        return CutToBytes(head + tail, MaxFileNameBytes);
    }
    return CutToBytes(head, MaxFileNameBytes - tailBytes) + tail;
}

QString PlainFileName(const QString& name) {
    QString plain;
    plain.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); i += CodeUnits(name, i)) {
        const char32_t c = CodePointAt(name, i);
        const bool lone = QChar::isSurrogate(c);
        const bool control = QChar::category(c) == QChar::Other_Control || IsBidiControl(c);
        if (c == u'/' || c == u'\\' || control || lone) {
            plain += u'_';
        } else {
            plain += name.mid(i, CodeUnits(name, i));
        }
    }
    qsizetype dots = 0;
    while (dots < plain.size() && plain[dots] == u'.') {
        ++dots;
    }
    plain.remove(0, dots);
    if (plain.isEmpty()) {
        return FallbackName;
    }
    if (Utf8Length(plain) <= MaxFileNameBytes) {
        return plain;
    }
    const qsizetype dot = plain.lastIndexOf(u'.');
    if (dot > 0 && Utf8Length(plain.mid(dot)) <= MaxKeptExtensionBytes) {
        return FitFileName(plain.left(dot), plain.mid(dot));
    }
    return CutToBytes(plain, MaxFileNameBytes);
}
