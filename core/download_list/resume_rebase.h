#pragma once

struct DownloadRecord;
struct SegmentRecord;

// What a segment received on its current connection is in its part file by now: the next
// connection continues after it, and counts it as stored.
void FoldReceived(SegmentRecord& segment);

// The step before a download starts again from its saved plan: every unfinished segment
// continues after what it stored, and the record is marked resuming. One with no plan yet
// starts afresh (Resuming 0). Every front end starts an entry through this one step.
void RebaseForResume(DownloadRecord& record);
