// A damaged list file: loading takes what it can, what it took saves and loads again to the
// same entries, and a resume of any entry it kept stays inside that entry's segment table.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/download_list/download_list.h"
#include "core/download_list/list_file_format.h"
#include "core/download_list/resume_rebase.h"
#include "engine/session/segment_split.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    DownloadListState list;
    DecodeListFile(bytes, list);
    const QByteArray saved = EncodeListFile(list);
    DownloadListState again;
    const ListLoadResult reloaded = DecodeListFile(saved, again);
    if (!reloaded.complete || again.DownloadCount != list.DownloadCount ||
        EncodeListFile(again) != saved) {
        __builtin_trap();
    }
    // What a resume does with each entry kept: fold, walk 1..SegmentCount through the table
    // unchecked as the engine does, split the largest.
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        DownloadRecord& r = list.DownloadList[slot];
        if (r.Active == 0) {
            continue;
        }
        RebaseForResume(r);
        std::vector<bool> running(static_cast<std::size_t>(r.SegmentCount + 1), true);
        for (int j = 1; j <= r.SegmentCount; ++j) {
            running[j] = r.Segments.at(j)->State != SegmentState::Complete;
        }
        if (const int j = SegmentToSplit(r, 0, running); j > 0) {
            SplitSegment(r, j, SplitPoint(*r.Segments.at(j)), 0, QStringLiteral("/nonexistent/"));
        }
    }
    return 0;
}
