#include "core/types/vb_convert.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

bool IsSkippedBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

int DigitValue(QChar c, int base) {
    int v = -1;
    if (c >= u'0' && c <= u'9') {
        v = c.unicode() - u'0';
    } else if (c >= u'a' && c <= u'f') {
        v = c.unicode() - u'a' + 10;
    } else if (c >= u'A' && c <= u'F') {
        v = c.unicode() - u'A' + 10;
    }
    return v < base ? v : -1;
}

// "&H1F" or "&O17" with `i` at its "&": blanks inside are skipped; `consumed` is 0 when no
// digit follows.
long double ParseRadixNumber(QStringView text, qsizetype i, qsizetype& consumed) {
    const qsizetype n = text.size();
    const int base = (text[i + 1] == u'H' || text[i + 1] == u'h') ? 16 : 8;
    i += 2;
    long double value = 0;
    bool any = false;
    for (; i < n; ++i) {
        if (IsSkippedBlank(text[i])) {
            continue;
        }
        const int d = DigitValue(text[i], base);
        if (d < 0) {
            break;
        }
        value = value * base + d;
        any = true;
    }
    consumed = any ? i : 0;
    return value;
}

// An exponent at `i` ("e", "E", "d" or "D", a sign, digits) scales `value` and is counted in
// `consumed`; one without digits is not part of the number.
void ApplyExponent(QStringView text, qsizetype i, long double& value, qsizetype& consumed) {
    const qsizetype n = text.size();
    if (i >= n || !(text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        return;
    }
    qsizetype j = i + 1;
    bool expNegative = false;
    if (j < n && (text[j] == u'+' || text[j] == u'-')) {
        expNegative = text[j] == u'-';
        ++j;
    }
    int exponent = 0;
    bool anyExp = false;
    for (; j < n; ++j) {
        const int d = DigitValue(text[j], 10);
        if (d < 0) {
            break;
        }
        exponent = std::min(exponent * 10 + d, 100000);
        anyExp = true;
    }
    if (anyExp) {
        value *= std::pow(10.0L, expNegative ? -exponent : exponent);
        consumed = j;
    }
}

// Parses a number at the start of `text`; `consumed` tells how many characters it used
// (blanks skipped inside the number count as used).
long double ParseNumber(QStringView text, qsizetype& consumed) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && IsSkippedBlank(text[i])) {
            ++i;
        }
    };
    consumed = 0;
    skipBlanks();
    if (i + 1 < n && text[i] == u'&' &&
        (text[i + 1] == u'H' || text[i + 1] == u'h' || text[i + 1] == u'O' ||
         text[i + 1] == u'o')) {
        return ParseRadixNumber(text, i, consumed);
    }
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    long double value = 0;
    bool anyDigit = false;
    for (; i < n; ++i) {
        if (IsSkippedBlank(text[i])) {
            continue;
        }
        const int d = DigitValue(text[i], 10);
        if (d < 0) {
            break;
        }
        value = value * 10 + d;
        anyDigit = true;
    }
    if (i < n && text[i] == u'.') {
        ++i;
        long double scale = 0.1L;
        for (; i < n; ++i) {
            if (IsSkippedBlank(text[i])) {
                continue;
            }
            const int d = DigitValue(text[i], 10);
            if (d < 0) {
                break;
            }
            value += d * scale;
            scale /= 10;
            anyDigit = true;
        }
    }
    if (!anyDigit) {
        return 0;
    }
    consumed = i;
    ApplyExponent(text, i, value, consumed);
    return negative ? -value : value;
}

}  // namespace

long double LeadingNumber(QStringView text) {
    qsizetype consumed = 0;
    return ParseNumber(text, consumed);
}

long double RoundHalfEven(long double value) {
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long double rounded = std::nearbyint(value);
    std::fesetround(saved);
    return rounded;
}

std::optional<long double> StrictNumber(QStringView text) {
    const QStringView trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    qsizetype consumed = 0;
    const long double value = ParseNumber(trimmed, consumed);
    if (consumed != trimmed.size()) {
        return std::nullopt;
    }
    return value;
}

namespace {
template <typename Int>
std::optional<Int> TextToWhole(QStringView text) {
    const auto value = StrictNumber(text);
    if (!value) {
        return std::nullopt;
    }
    const long double rounded = RoundHalfEven(*value);
    if (!(rounded >= std::numeric_limits<Int>::min() &&
          rounded <= std::numeric_limits<Int>::max())) {
        return std::nullopt;
    }
    return static_cast<Int>(rounded);
}
}  // namespace

std::optional<std::int16_t> TextToInteger(QStringView text) {
    return TextToWhole<std::int16_t>(text);
}

std::optional<std::int32_t> TextToLong(QStringView text) {
    return TextToWhole<std::int32_t>(text);
}

std::optional<std::int32_t> LeadingNumberToLong(QStringView text) {
    const long double rounded = RoundHalfEven(LeadingNumber(text));
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
          rounded <= std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

std::optional<std::int16_t> TextToFlag(QStringView text) {
    const QStringView trimmed = text.trimmed();
    if (trimmed.compare(u"True", Qt::CaseInsensitive) == 0) {
        return -1;
    }
    if (trimmed.compare(u"False", Qt::CaseInsensitive) == 0) {
        return 0;
    }
    const auto value = StrictNumber(trimmed);
    if (!value) {
        return std::nullopt;
    }
    return *value != 0 ? -1 : 0;
}

std::int64_t ClampToInt64(long double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const long double rounded = RoundHalfEven(value);
    if (rounded >= 9.2233720368547758e18L) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (rounded <= -9.2233720368547758e18L) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(rounded);
}
