#pragma once

#include <cstdint>

struct DownloadRecord;
struct SegmentRecord;

// Where a download's segments keep their bytes. A download planned with several segments
// writes each at its own offset in one file that every segment names, so that finishing it is
// a rename; lists from before name a part file per segment, each holding its range from its
// first byte, which are joined by copying. A lone segment's range begins at byte 0, so its
// file is the same in both.
bool SharesOneFile(const DownloadRecord& record);

// All the download's bytes are in one file at their offsets: its segments share one, or a lone
// segment has its own.
bool InOneFile(const DownloadRecord& record);

// The offset in its part file of the first byte of the segment's range.
std::int64_t RangeOffsetInFile(const DownloadRecord& record, const SegmentRecord& segment);

// Bytes the segment's part file holds for it, as its record counts them: its whole range once
// complete.
std::int64_t StoredBytes(const SegmentRecord& segment);
