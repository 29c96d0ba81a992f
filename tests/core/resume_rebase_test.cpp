// The resume step every start from a saved plan takes, and the slots a walk over the list visits.
#include <gtest/gtest.h>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/resume_rebase.h"

namespace {

SegmentRecord Segment(std::int16_t state, std::int64_t start, std::int64_t done,
                      std::int64_t received) {
    SegmentRecord s;
    s.State = state;
    s.StartPos = Currency::fromBytes(start);
    s.Done = Currency::fromBytes(done);
    s.Received = Currency::fromBytes(received);
    return s;
}

}  // namespace

// Unfinished segments go on after what they received; complete ones stay as they are, bytes
// counted once; a record without a plan starts afresh.
TEST(ResumeRebase, UnfinishedSegmentsContinueAfterWhatTheyReceived) {
    struct Case {
        const char* name;
        SegmentRecord before;
        SegmentRecord after;
    };
    const std::vector<Case> cases = {
        {"receiving", Segment(SegmentState::Receiving, 120, 20, 30),
         Segment(SegmentState::Receiving, 150, 50, 0)},
        {"paused", Segment(SegmentState::Paused, 100, 0, 0),
         Segment(SegmentState::Paused, 100, 0, 0)},
        {"idle", Segment(SegmentState::Idle, 0, 0, 7), Segment(SegmentState::Idle, 7, 7, 0)},
        {"complete", Segment(SegmentState::Complete, 200, 100, 5),
         Segment(SegmentState::Complete, 200, 100, 5)},
    };
    DownloadRecord r;
    r.SegmentCount = static_cast<std::int16_t>(cases.size());
    r.Segments.redim(r.SegmentCount);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        *r.Segments.at(int(i) + 1) = cases[i].before;
    }
    RebaseForResume(r);
    EXPECT_TRUE(ResumingFromPlan(r));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const SegmentRecord& s = *r.Segments.at(int(i) + 1);
        EXPECT_EQ(s.StartPos.bytes(), cases[i].after.StartPos.bytes());
        EXPECT_EQ(s.Done.bytes(), cases[i].after.Done.bytes());
        EXPECT_EQ(s.Received.bytes(), cases[i].after.Received.bytes());
    }

    DownloadRecord unplanned;
    unplanned.Resuming = FlagTrue;
    RebaseForResume(unplanned);
    EXPECT_FALSE(ResumingFromPlan(unplanned));
}

TEST(ResumeRebase, UsedSlotsStayInsideTheTable) {
    DownloadListState list;
    EXPECT_EQ(UsedSlots(list), 0);
    list.DownloadList.resize(4);
    list.DownloadCount = 2;
    EXPECT_EQ(UsedSlots(list), 2);
    list.DownloadCount = 9;  // as a damaged file may claim
    EXPECT_EQ(UsedSlots(list), 3);
}
