#include "update/version_file.h"

#include <QStringDecoder>

namespace {

// Longer first lines are no version: the digits become a file name.
constexpr qsizetype MaxVersionCharacters = 24;

bool AllDigits(QStringView text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

// Whether the decimal number `whole`.`fraction` is greater than `version`.
bool GreaterThan(QStringView whole, QStringView fraction, int version) {
    while (whole.size() > 1 && whole.front() == u'0') {
        whole = whole.mid(1);
    }
    const QString mine = QString::number(version);
    if (whole.size() != mine.size()) {
        return whole.size() > mine.size();
    }
    const int order = whole.compare(mine);
    if (order != 0) {
        return order > 0;
    }
    for (const QChar c : fraction) {
        if (c != u'0') {
            return true;
        }
    }
    return false;
}

QString Decode(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        text = QString::fromLatin1(bytes);
    }
    return text;
}

QString PlainNotes(const QByteArray& bytes) {
    QString text = Decode(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QString plain;
    plain.reserve(std::min<qsizetype>(text.size(), MaxNotesCharacters + 1));
    int lines = 1;
    bool cut = false;
    for (const QChar c : std::as_const(text)) {
        if (plain.size() >= MaxNotesCharacters) {
            cut = true;
            break;
        }
        if (c == u'\n') {
            if (++lines > MaxNotesLines) {
                cut = true;
                break;
            }
            plain += c;
        } else if (c == u'\t') {
            plain += c;
        } else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                   c == u'\r') {
            continue;  // bidirectional overrides and the like would disguise the text
        } else {
            plain += c;
        }
    }
    // Surrogate pairs stay whole.
    if (!plain.isEmpty() && plain.back().isHighSurrogate()) {
        plain.chop(1);
    }
    plain = plain.trimmed();
    if (cut) {
        plain += QChar(0x2026);
    }
    return plain;
}

}  // namespace

VersionFile ReadVersionFile(const QByteArray& body) {
    VersionFile file;
    QByteArray bytes = body;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    const qsizetype end = bytes.indexOf('\n');
    const QByteArray first = end < 0 ? bytes : bytes.left(end);
    file.notes = end < 0 ? QString() : PlainNotes(bytes.mid(end + 1));

    const QString line = QString::fromLatin1(first).trimmed();
    if (line.size() > MaxVersionCharacters) {
        return file;
    }
    const qsizetype point = line.indexOf(u'.');
    const QStringView whole = point < 0 ? QStringView(line) : QStringView(line).left(point);
    const QStringView fraction = point < 0 ? QStringView() : QStringView(line).mid(point + 1);
    if (!AllDigits(whole) || (point >= 0 && !AllDigits(fraction))) {
        return file;
    }
    file.hasVersion = true;
    file.version = line;
    file.digits = whole.toString() + fraction.toString();
    file.newer = GreaterThan(whole, fraction, ProgramVersion);
    return file;
}
