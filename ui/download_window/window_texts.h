#pragma once

#include <QString>
#include <cstdint>

class TextTable;

// The texts the download window builds from a record's figures.

// "1 h 2 min 5 s", "2 min 0 s", "59 s": whole seconds, the unit words are interface texts 4, 5
// and 6. Unlike the list's clock-style durations, zero hours and minutes are left out. Negative:
// empty.
QString DurationText(float seconds, const TextTable& texts);

// The window caption: "42.5% of setup.exe downloaded", the name percent-decoded.
QString CaptionText(float percent, const QString& fileName, const TextTable& texts);

// The word for a segment's state; an unknown state has none.
QString SegmentStateText(std::int16_t state, const TextTable& texts);
