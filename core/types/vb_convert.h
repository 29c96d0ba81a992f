#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

// Text-to-number conversions with the semantics that stored settings, language files and
// server replies are read with.

// The leading number of a text: blanks, tabs and line feeds are skipped wherever they stand,
// then an optional sign, digits, an optional fraction and exponent, or an "&H"/"&O" prefixed
// integer. Stops at the first other character; a text without a leading number gives 0.
long double LeadingNumber(QStringView text);

// Rounds to the nearest integer, halves to even, as the stored integers were always rounded.
long double RoundHalfEven(long double value);

// The whole text as a number (surrounding blanks allowed), or nothing when it is not one.
std::optional<long double> StrictNumber(QStringView text);

// A 16-bit integer from a text that must be a number in range, rounded halves to even.
std::optional<std::int16_t> TextToInteger(QStringView text);
// The same for a 32-bit integer.
std::optional<std::int32_t> TextToLong(QStringView text);

// A 32-bit integer from the leading number of a text, rounded halves to even; nothing on overflow.
std::optional<std::int32_t> LeadingNumberToLong(QStringView text);

// "True"/"False" in any letter case, or any number (non-zero is true); true is -1.
std::optional<std::int16_t> TextToFlag(QStringView text);

// A rounded value clamped into the 64-bit range (NaN gives 0).
std::int64_t ClampToInt64(long double value);
