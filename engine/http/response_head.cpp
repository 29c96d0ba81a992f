#include "engine/http/response_head.h"

#include <QByteArrayView>
#include <QLocale>
#include <QTimeZone>
#include <algorithm>
#include <limits>

#include "core/types/currency.h"
#include "core/types/vb_convert.h"

// A header's name runs up to its colon and matches in any letter case; its value is what
// follows, without the blanks around it. Everything works on the received bytes; only the
// values become text, decoded as UTF-8.

namespace {

// The largest byte count that still fits a Currency once scaled.
constexpr std::int64_t MaxSizeBytes = std::numeric_limits<std::int64_t>::max() / Currency::Scale;

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// ASCII-only folding keeps byte positions fixed and lets no non-ASCII letter pass for a Latin one.
bool EqualsNoCase(QByteArrayView text, QByteArrayView upper) {
    return text.size() == upper.size() &&
           std::equal(text.begin(), text.end(), upper.begin(),
                      [](char a, char b) { return AsciiUpper(a) == b; });
}

qsizetype IndexOfNoCase(QByteArrayView line, QByteArrayView upper) {
    for (qsizetype i = 0; i + upper.size() <= line.size(); ++i) {
        if (EqualsNoCase(line.sliced(i, upper.size()), upper)) {
            return i;
        }
    }
    return -1;
}

// The text from the 1-based character `position` on; empty when the line is shorter.
QByteArrayView From(QByteArrayView line, qsizetype position) {
    return line.size() >= position ? line.sliced(position - 1) : QByteArrayView();
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

QByteArrayView TrimBlanks(QByteArrayView text) {
    while (!text.isEmpty() && Blank(text.front())) {
        text = text.sliced(1);
    }
    while (!text.isEmpty() && Blank(text.back())) {
        text.chop(1);
    }
    return text;
}

QString Text(QByteArrayView bytes) {
    return QString::fromUtf8(bytes);
}

long double Number(QByteArrayView bytes) {
    return RoundHalfEven(LeadingNumber(Text(bytes)));
}

int StatusCode(QByteArrayView statusLine) {
    const std::int64_t value = ClampToInt64(Number(From(statusLine, 9)));
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// A negative length is no size at all (0 = not known); a larger one than a Currency can hold
// would overflow every sum made with it.
std::int64_t ContentLength(QByteArrayView value) {
    return std::clamp<std::int64_t>(ClampToInt64(Number(value)), 0, MaxSizeBytes);
}

// filename= up to the closing quote, quotes dropped; unquoted, the rest of the line as it is.
// An opening quote that is never closed takes the rest of the line.
bool DispositionFileName(QByteArrayView line, QString& fileName) {
    constexpr QByteArrayView Key = "FILENAME=";
    const qsizetype at = IndexOfNoCase(line, Key);
    if (at < 0) {
        return false;
    }
    const QByteArrayView value = TrimBlanks(line.sliced(at + Key.size()));
    if (value.isEmpty()) {
        return false;
    }
    const qsizetype open = value.indexOf('"');
    if (open < 0) {
        fileName = Text(value);
        return true;
    }
    const qsizetype close = value.indexOf('"', open + 1);
    QByteArray name = (close < 0 ? value : value.first(close)).toByteArray();
    name.removeIf([](char c) { return c == '"'; });
    fileName = Text(name);
    return true;
}

// The one date form HTTP servers send ("Sun, 06 Nov 1994 08:49:37 GMT"), in UTC; invalid for
// any other.
QDateTime HttpDate(QByteArrayView value) {
    QString text = Text(value);
    if (text.size() != 29 || !text.endsWith(QStringLiteral(" GMT"))) {
        return {};
    }
    // Date and time apart: read as one in local time, an hour a clock change skips is lost.
    const QDate day = QLocale::c().toDate(text.left(16), QStringLiteral("ddd, dd MMM yyyy"));
    const QTime time = QTime::fromString(text.mid(17, 8), QStringLiteral("HH:mm:ss"));
    return day.isValid() && time.isValid() ? QDateTime(day, time, QTimeZone::utc()) : QDateTime();
}

// A quoted tag of visible ASCII, which goes back to the server unchanged in If-Range; anything
// else (a weak tag, a broken one) is as good as none.
QString StrongEtag(QByteArrayView value) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
        return {};
    }
    for (const char c : value.sliced(1, value.size() - 2)) {
        if (c <= 0x20 || c >= 0x7F || c == '"') {
            return {};
        }
    }
    return QString::fromLatin1(value);
}

// A list field sent on several lines is one field, its values joined by commas.
void JoinField(QString& field, QByteArrayView value) {
    field += (field.isEmpty() ? QString() : QStringLiteral(", ")) + Text(value);
}

void ReadHeaderLine(QByteArrayView line, ResponseHead& head) {
    // A line that starts with a blank continues the one before (an old folding), never a header
    // of its own.
    if (line.isEmpty() || Blank(line.front())) {
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
        return;
    }
    const QByteArrayView name = line.first(colon);
    if (Blank(name.back())) {
        // "Name :" is no header a sender may send; what it means to the server is anyone's
        // guess, so the answer is not taken.
        head.badHeaderLine = true;
        return;
    }
    const QByteArrayView value = TrimBlanks(line.sliced(colon + 1));
    if (EqualsNoCase(name, "CONTENT-LENGTH")) {
        head.contentLength = ContentLength(value);
        head.hasContentLength = true;
    } else if (EqualsNoCase(name, "LOCATION")) {
        head.location = Text(value);
    } else if (EqualsNoCase(name, "CONTENT-TYPE")) {
        head.contentType = Text(value);
    } else if (EqualsNoCase(name, "CONTENT-ENCODING")) {
        head.contentEncoding = Text(value);
    } else if (EqualsNoCase(name, "TRANSFER-ENCODING")) {
        head.chunked = head.chunked || EqualsNoCase(value, "CHUNKED");
    } else if (EqualsNoCase(name, "CONTENT-DISPOSITION")) {
        DispositionFileName(value, head.fileName);
    } else if (EqualsNoCase(name, "LAST-MODIFIED")) {
        head.lastModified = HttpDate(value);
    } else if (EqualsNoCase(name, "ETAG")) {
        head.etag = StrongEtag(value);
    } else if (EqualsNoCase(name, "REPR-DIGEST")) {
        JoinField(head.reprDigest, value);
    } else if (EqualsNoCase(name, "DIGEST")) {
        JoinField(head.digest, value);
    }
}

}  // namespace

ResponseHead ParseResponseHead(const QByteArray& chunk) {
    QByteArray text = chunk;
    text.removeIf([](char c) { return c == '\r'; });
    const QByteArrayView all(text);

    ResponseHead head;
    const qsizetype firstLf = all.indexOf('\n');
    head.status = StatusCode(firstLf < 0 ? all : all.first(firstLf));

    // The status line is no header, whatever it holds.
    qsizetype start = firstLf + 1;
    for (;;) {
        const qsizetype lf = all.indexOf('\n', start);
        if (lf < 0) {
            break;  // the piece after the last LF may still be growing
        }
        const QByteArrayView line = all.sliced(start, lf - start);
        if (line.isEmpty()) {
            break;  // end of the head; what follows is body
        }
        ReadHeaderLine(line, head);
        start = lf + 1;
    }
    return head;
}

QString StatusLineOf(const QByteArray& head) {
    const qsizetype end = head.indexOf('\n');
    QByteArray line = (end < 0 ? head : head.left(end)).trimmed().left(200);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return QString::fromLatin1(line);
}
