#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

struct DownloadRecord;
struct SegmentRecord;

// Splitting stops here: the list file and the segment view stay a reasonable size.
constexpr int kMaxSegmentRecords = 1000;

// The least range worth a connection of its own: half a second of one connection's transfer
// (a new connection's handshake and request cost a fraction of that), never less than 1 MiB (also
// for a rate that is unknown, negative or not finite).
std::int64_t MinimumSplitSize(double bytesPerSecondPerConnection);

// Bytes the segment still has to fetch; 0 when it is complete, out of the plan or has no range.
std::int64_t RemainingBytes(const SegmentRecord& s);

// The running segment (running[j], j from 1) with the largest remaining range above twice
// `minimum`, the lower index on a tie; 0 when none qualifies or the record is full.
int SegmentToSplit(const DownloadRecord& r, std::int64_t minimum, const std::vector<bool>& running);

// The first byte a new segment takes from `s`: `s` keeps `keepShare` (0..1) of its remaining
// range, at least one byte, and leaves at least one; -1 when fewer than two bytes remain.
std::int64_t SplitPoint(const SegmentRecord& s, double keepShare = 0.5);

// The part files the record's segments name. Names of part files that are gone (or were never
// made) stay taken: two records must never write into one part file.
QStringList PartFilesOf(const DownloadRecord& r);

// Ends segment j at cut - 1 and inserts after it a new planned segment for [cut, old end],
// written into the one file the record's segments share. A list from before, whose segments
// each have their own part file, gets a name in `tempFolder` that no file and no record uses
// yet; that file is not made here: the caller makes it once the saved list names it, so a run
// killed in between leaves no part file that no list knows. Returns the new segment's index, or 0
// (and changes nothing) unless the cut lies after j's next unfetched byte and within its range.
int SplitSegment(DownloadRecord& r, int j, std::int64_t cut, std::int32_t tick,
                 const QString& tempFolder);
