#include "core/text/format.h"

#include <QLocale>

#include "core/text/text_table.h"
#include "core/types/vb_convert.h"

namespace {

// `scaled` is the value times 10^decimals, already truncated; prints its shortest form.
QString ShortestDecimal(std::int64_t scaled, int decimals, const QString& point) {
    std::int64_t divisor = 1;
    for (int i = 0; i < decimals; ++i) {
        divisor *= 10;
    }
    QString text = QString::number(scaled / divisor);
    std::int64_t fraction = scaled % divisor;
    if (fraction == 0) {
        return text;
    }
    QString digits = QString::number(fraction).rightJustified(decimals, u'0');
    while (digits.endsWith(u'0')) {
        digits.chop(1);
    }
    return text + point + digits;
}

// The decimal separator of the language's conventions (the locale its text 249 names), "."
// when it names none. The last answer is kept: sizes are formatted for every cell drawn.
QString DecimalPoint(const TextTable& texts) {
    thread_local QString name;
    thread_local QString point = QStringLiteral(".");
    const QString wanted = texts.text(LocaleTextNumber).trimmed();
    if (wanted != name) {
        name = wanted;
        point = wanted.isEmpty() ? QStringLiteral(".") : QLocale(wanted).decimalPoint();
    }
    return point;
}

// floor(bytes * 10^decimals / divisor) without overflow for any byte count.
std::int64_t TruncatedQuotient(std::int64_t bytes, std::int64_t divisor, int decimals) {
    const std::int64_t scale = decimals == 1 ? 10 : 100;
    const std::int64_t whole = bytes / divisor;
    const std::int64_t rest = bytes % divisor;
    return whole * scale + rest * scale / divisor;
}

}  // namespace

QString FormatSize(Currency size, const TextTable& texts) {
    const std::int64_t n = size.bytes();
    if (n < 0) {
        return {};
    }
    if (n < 1000) {
        return QString::number(n) + u' ' + texts.text(0);
    }
    if (n < 1000000) {
        return ShortestDecimal(TruncatedQuotient(n, 1024, 1), 1, DecimalPoint(texts)) + u' ' +
               texts.text(1);
    }
    if (n < 1000000000) {
        return ShortestDecimal(TruncatedQuotient(n, 1048576, 2), 2, DecimalPoint(texts)) + u' ' +
               texts.text(2);
    }
    return ShortestDecimal(TruncatedQuotient(n, 1073741824, 2), 2, DecimalPoint(texts)) + u' ' +
           texts.text(3);
}

QString FormatPercent(float percent, const TextTable& texts) {
    QString text = QString::number(static_cast<double>(percent), 'f', 1);
    return text.replace(u'.', DecimalPoint(texts));
}

QString FormatDuration(float seconds) {
    if (!(seconds >= 0)) {
        return {};
    }
    const std::int64_t t = ClampToInt64(seconds);
    const std::int64_t m = t / 60;
    const std::int64_t h = m / 60;
    auto two = [](std::int64_t v) { return QString::number(v).rightJustified(2, u'0'); };
    if (h == 0) {
        return two(m % 60) + u':' + two(t % 60);
    }
    return two(h) + u':' + two(m % 60) + u':' + two(t % 60);
}

QString EscapeControls(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\') {
            shown += QStringLiteral("\\\\");
        } else if (u == u'\n') {
            shown += QStringLiteral("\\n");
        } else if (u == u'\r') {
            shown += QStringLiteral("\\r");
        } else if (u == u'\t') {
            shown += QStringLiteral("\\t");
        } else if (u < 0x20 || u == 0x7f) {
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QChar(u'0'));
        } else if ((u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029) {
            shown += QStringLiteral("\\u%1").arg(int(u), 4, 16, QChar(u'0'));
        } else {
            shown += c;
        }
    }
    return shown;
}
