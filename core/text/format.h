#pragma once

#include <QString>

#include "core/types/currency.h"

class TextTable;

// The interface text that names the language's locale ("fr_FR"), whose conventions numbers
// follow; none means English ones.
constexpr int LocaleTextNumber = 249;

// "999 bytes", "0.9 KB", "1 MB": decimal thresholds, binary divisors, truncated to one decimal
// for kilobytes and two above; the unit words are interface texts 0 to 3, the decimal
// separator the language's ("0,9 Ko"). Negative: empty.
QString FormatSize(Currency size, const TextTable& texts);

// "12.5", "12,5": a percentage with one decimal and the language's decimal separator.
QString FormatPercent(float percent, const TextTable& texts);

// "07:05" below an hour, "01:02:03" from an hour on; negative: empty.
QString FormatDuration(float seconds);

// Text from a server or a list made safe for a terminal: every control character (C0, DEL,
// C1) is shown escaped, "\n", "\r", "\t", "\\" and else "\x1b" / "\u009b", so that no status
// line, reason or file name can move the cursor, retitle the window or hide what went before.
// Backslashes are doubled so that an escape shown is never mistaken for one sent.
QString EscapeControls(const QString& text);
