#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = -1;  // -1 for "*"
};

// The "Content-Range: bytes FIRST-LAST/TOTAL" header of a response head, when it has one
// that makes sense (FIRST <= LAST, both below TOTAL).
std::optional<ContentRange> FindContentRange(const QByteArray& head);

// Why `sent`, the range an answer names, cannot be taken for "bytes=FIRST-LAST" of a file of
// `total` bytes, in words for the user; empty when it can. `last` and `total` are -1 where not
// known. It must start at FIRST, end no later than LAST and give the same total (or "*"); it
// may end before LAST where `mayEndEarly` (a server that caps its answers: the rest is asked
// for again).
QString RangeRefusal(const std::optional<ContentRange>& sent, std::int64_t first, std::int64_t last,
                     std::int64_t total, bool mayEndEarly);
