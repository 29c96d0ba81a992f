#pragma once

#include <QString>

#include "core/types/currency.h"

class TextTable;

// "999 bytes", "0.9 KB", "1 MB": decimal thresholds, binary divisors, truncated to one decimal
// for kilobytes and two above; the unit words are interface texts 0 to 3. Negative: empty.
QString FormatSize(Currency size, const TextTable& texts);

// "07:05" below an hour, "01:02:03" from an hour on; negative: empty.
QString FormatDuration(float seconds);
