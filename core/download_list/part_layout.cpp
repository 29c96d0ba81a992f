#include "core/download_list/part_layout.h"

#include "core/download_list/records.h"

bool SharesOneFile(const DownloadRecord& record) {
    const SegmentRecord* first = record.Segments.at(1);
    const SegmentRecord* second = record.Segments.at(2);
    return record.SegmentCount >= 2 && first != nullptr && second != nullptr &&
           !first->PartFile.isEmpty() && first->PartFile == second->PartFile;
}

bool InOneFile(const DownloadRecord& record) {
    return record.SegmentCount == 1 || SharesOneFile(record);
}

std::int64_t RangeOffsetInFile(const DownloadRecord& record, const SegmentRecord& segment) {
    return SharesOneFile(record) ? segment.EndPos.bytes() - segment.Length.bytes() + 1 : 0;
}

std::int64_t StoredBytes(const SegmentRecord& segment) {
    return segment.State == SegmentState::Complete
               ? segment.Length.bytes()
               : segment.Done.bytes() + segment.Received.bytes();
}
