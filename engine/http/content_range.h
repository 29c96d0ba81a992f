#pragma once

#include <QByteArray>
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
