#pragma once

#include <QtGlobal>
#include <cstdint>

class DownloadSession;

// Writes what a segment's connection brings into its part file, behind what the segment
// already holds, and keeps the download's progress figures. Nothing counts that did not reach
// the part file.
class SegmentWriter {
public:
    explicit SegmentWriter(DownloadSession& session) : session_(session) {}

    void store(int k, const char* data, qsizetype length);

private:
    // False when the bytes could not be written; the download then waits, paused.
    bool write(int k, const char* data, qsizetype length, std::int32_t now);
    void countProgress(int k, qsizetype length, std::int32_t now);

    DownloadSession& session_;
    std::int32_t lastRefreshTick_ = 0;  // when the observer last heard of progress
};
