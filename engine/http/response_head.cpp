#include "engine/http/response_head.h"

#include <QByteArrayView>
#include <QLocale>
#include <QTimeZone>
#include <algorithm>
#include <limits>

#include "core/types/currency.h"
#include "core/types/vb_convert.h"

// Header values are taken from fixed positions (one blank after the colon, as every server we
// talk to sends), matching names in any letter case. Everything works on the received bytes;
// only the values become text, decoded as UTF-8.

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

bool StartsWithNoCase(QByteArrayView line, QByteArrayView upper) {
    return line.size() >= upper.size() && EqualsNoCase(line.first(upper.size()), upper);
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

QByteArrayView TrimBlanks(QByteArrayView text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.isEmpty() && blank(text.front())) {
        text = text.sliced(1);
    }
    while (!text.isEmpty() && blank(text.back())) {
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

void ReadHeaderLine(QByteArrayView line, ResponseHead& head) {
    if (StartsWithNoCase(line, "CONTENT-LENGTH:")) {
        head.contentLength = ContentLength(From(line, 17));
        head.hasContentLength = true;
    } else if (StartsWithNoCase(line, "LOCATION:")) {
        head.location = Text(TrimBlanks(From(line, 11)));
    } else if (StartsWithNoCase(line, "CONTENT-TYPE:")) {
        head.contentType = Text(TrimBlanks(From(line, 14)));
    } else if (EqualsNoCase(TrimBlanks(line), "TRANSFER-ENCODING: CHUNKED")) {
        head.chunked = true;
    } else if (StartsWithNoCase(line, "CONTENT-DISPOSITION:")) {
        DispositionFileName(line, head.fileName);
    } else if (StartsWithNoCase(line, "LAST-MODIFIED:")) {
        head.lastModified = HttpDate(TrimBlanks(From(line, 15)));
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

    qsizetype start = 0;
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
