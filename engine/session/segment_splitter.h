#pragma once

#include <array>
#include <cstdint>
#include <deque>

#include "engine/session/connection_slot.h"

class SessionCore;

// Work for a connection that falls free once every segment has one: the second half of the
// running segment with the most left, or the larger part of what a slow segment still has to
// fetch (far slower than the others, or seconds from its end while connections stand idle), so
// one bad connection never holds up the whole download. The
// range split off becomes a segment of its own, inserted after the one it was cut from.
class SegmentSplitter {
public:
    struct Sample {
        std::int32_t tick;
        std::int64_t bytes;
    };

    explicit SegmentSplitter(SessionCore& core) : core_(core) {}

    // A new start: what the connections brought before no longer tells their rates.
    void forget();
    // Notes what each connection has brought by now (once a second), and where slot k's new
    // connection starts, so that a slow one is known after a second.
    void sample(std::int32_t now);
    void connectionStarted(int k, std::int32_t now) { note(k, now); }
    // Slot k's connection fetched its range whole.
    void connectionEnded(int k, std::int32_t now);
    // Splits a range off for a free connection, of `connectionLimit` that may run: the new
    // segment's number, or 0 when no range is worth a connection of its own.
    int splitForFreeConnection(int connectionLimit);

private:
    void note(int k, std::int32_t now);
    // Keeps an ended connection's rate among the last few for the median.
    void rememberEnded(double rate);
    // Makes segment j's part file, after the list was saved with its name.
    void claimPart(int j, int connectionLimit);
    // Bytes per second of slot k's connection over its last seconds, or -1 while it has run too
    // briefly to tell.
    double rate(int k) const;
    double medianRate() const;
    // The running segment whose connection would hold up the download, the longest: far
    // slower than the median, or with more than a few seconds left at its rate while other
    // connections are free; 0 if none.
    int holdingUp(double median) const;

    struct Connection {
        std::uint32_t generation = 0;
        std::deque<Sample> samples;
    };

    SessionCore& core_;
    std::array<Connection, ConnectionSlots::Probe> connections_{};
    std::deque<double> ended_;  // rates of the last connections that ended
};
