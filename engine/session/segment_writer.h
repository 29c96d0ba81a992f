#pragma once

#include <QtGlobal>
#include <cstdint>

class SessionActions;
class SessionCore;

// Writes what a segment's connection brings into its part file, behind what the segment
// already holds, and keeps the download's progress figures. Nothing counts that did not reach
// the part file.
class SegmentWriter {
public:
    SegmentWriter(SessionCore& core, SessionActions& session) : core_(core), session_(session) {}

    // True when the bytes filled slot k's segment: the caller completes it.
    [[nodiscard]] bool store(int k, const char* data, qsizetype length);

private:
    // False when the bytes could not be written; the download then waits, paused.
    bool write(int k, const char* data, qsizetype length, std::int32_t now);
    void countProgress(int k, qsizetype length, std::int32_t now);

    SessionCore& core_;
    SessionActions& session_;
    std::int32_t lastRefreshTick_ = 0;  // when the observer last heard of progress
};
