// An entry's life: the state each sequence of events leaves, as the list file stores it.
#include "core/download_list/entry_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core/download_list/list_file_format.h"
#include "core/download_list/records.h"

namespace {

using Step = std::function<void(DownloadRecord&)>;

}  // namespace

TEST(EntryStateTest, EventsMoveAnEntryAndTheListFileKeepsWhereItIs) {
    struct Case {
        const char* name;
        std::vector<Step> events;
        ListEntryState state;
        std::int16_t failureCode = 0;  // kept in the list file while the failure holds
    };
    const Step paused = MarkPaused;
    const Step started = MarkStarted;
    const Step failed = [](DownloadRecord& r) { MarkFailed(r, 404); };
    const std::vector<Case> cases = {
        {"never started", {}, ListEntryState::Waiting},
        {"started", {started}, ListEntryState::Running},
        {"paused", {started, paused}, ListEntryState::Paused},
        // A failure pauses first; the list shows the failure, and a new start clears it.
        {"failed", {started, paused, failed}, ListEntryState::Failed, 404},
        {"retried", {started, failed, MarkAttemptStarted, started}, ListEntryState::Running},
        {"queued after a failure", {started, failed, MarkQueued}, ListEntryState::Queued, 404},
        {"scheduled",
         {[](DownloadRecord& r) { SetScheduled(r, true); }},
         ListEntryState::Scheduled},
        {"its time came",
         {[](DownloadRecord& r) { SetScheduled(r, true); }, MarkScheduleDue},
         ListEntryState::Queued},
        {"joined", {started, MarkTransferDone, MarkFinished}, ListEntryState::Finished},
        {"deleted while running", {started, MarkRemovedByUser}, ListEntryState::Removed},
        {"cleared when finished", {MarkFinished, MarkCleared}, ListEntryState::Removed},
        {"installed", {MarkFinished, MarkInstalled}, ListEntryState::Free},
        // Running when the program was killed: the next run finds it paused.
        {"killed while running", {started, SettleAfterLoad}, ListEntryState::Paused},
    };
    for (const Case& c : cases) {
        DownloadListState list;
        list.DownloadList.resize(2);
        list.DownloadCount = 1;
        DownloadRecord& r = list.DownloadList[1];
        EnterList(r);
        for (const Step& event : c.events) {
            event(r);
        }
        EXPECT_EQ(StateName(StateOf(r)), std::string(StateName(c.state))) << c.name;
        DownloadListState loaded;
        ASSERT_EQ(DecodeListFile(EncodeListFile(list), loaded).error, QString()) << c.name;
        EXPECT_EQ(StateOf(loaded.DownloadList.at(1)), StateOf(r)) << c.name;
        EXPECT_EQ(FailureCodeOf(loaded.DownloadList.at(1)), c.failureCode) << c.name;
    }
}
