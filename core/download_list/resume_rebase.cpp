#include "core/download_list/resume_rebase.h"

#include "core/download_list/entry_state.h"
#include "core/download_list/records.h"

void FoldReceived(SegmentRecord& segment) {
    segment.StartPos += segment.Received;
    segment.Done += segment.Received;
    segment.Received = Currency{};
}

void RebaseForResume(DownloadRecord& record) {
    if (record.SegmentCount < 1) {
        MarkResuming(record, false);
        return;
    }
    for (int j = 1; j <= record.SegmentCount; ++j) {
        SegmentRecord* segment = record.Segments.at(j);
        if (segment != nullptr && segment->State != SegmentState::Complete) {
            FoldReceived(*segment);
        }
    }
    MarkResuming(record, true);
}
