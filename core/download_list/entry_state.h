#pragma once

#include <cstdint>

struct DownloadRecord;

// What an entry of the download list is, read from the flags its record stores. The flags keep
// their names and places in the list file; this is the one place that knows how they combine,
// and the transitions below are the only code that writes them.
enum class ListEntryState : std::uint8_t {
    Free,       // an unused slot
    Removed,    // taken out of the list (by the user, or an installed update)
    Waiting,    // in the list, neither running nor marked for anything
    Queued,     // waits for a free place under the limit of simultaneous downloads
    Scheduled,  // waits for the scheduled time
    Running,
    Paused,
    Failed,  // gave up; what was stored stays, the user may retry
    Finished,
};

ListEntryState StateOf(const DownloadRecord& r);
const char* StateName(ListEntryState state);

// In the list at all, finished or not.
bool Listed(const DownloadRecord& r);
// In the list and not finished: what the unfinished view shows and a start may pick up.
bool Unfinished(const DownloadRecord& r);
// The file is joined (also for an entry that has left the list since, an installed update).
bool FileComplete(const DownloadRecord& r);
// A running session was told to pause and has not resumed since (a failure pauses first).
bool HeldByPause(const DownloadRecord& r);
// The last attempt failed; the entry may be queued or scheduled again since.
bool LastAttemptFailed(const DownloadRecord& r);
// Why the last attempt failed, as MarkFailed stored it (0: no reason known).
std::int16_t FailureCodeOf(const DownloadRecord& r);
// Marked to start from the queue; may already be running (started ahead of the queue).
bool InQueue(const DownloadRecord& r);
bool MarkedForSchedule(const DownloadRecord& r);
// Started from its saved plan and not yet connected again.
bool ResumingFromPlan(const DownloadRecord& r);

// Transitions, one for each event that moves an entry.
// A slot (new or reused) takes a new address: in the list, nothing run yet.
void EnterList(DownloadRecord& r);
// A slot that holds no entry is cleared of every mark.
void ClearFreeSlot(DownloadRecord& r);
// An entry read from the list file: one that was running comes back paused, and marks that
// cannot go together are settled.
void SettleAfterLoad(DownloadRecord& r);
void MarkStarted(DownloadRecord& r);
// A slot's earlier session is gone: its pause must not mark the download that starts anew.
void ForgetPause(DownloadRecord& r);
// A transfer seen running again (a probe's answer, an FTP reply) without a new start.
void MarkRunning(DownloadRecord& r);
// A new attempt at the probe: the last failure, and its reason, no longer hold.
void MarkAttemptStarted(DownloadRecord& r);
void MarkPaused(DownloadRecord& r);
// Gave up; `code` says why (failure_words.h gives the codes' meanings) and stays with the entry
// in the list file until an attempt starts again.
void MarkFailed(DownloadRecord& r, std::int16_t code);
// The session ended without a pause or a failure: the entry no longer counts as running.
void MarkStopped(DownloadRecord& r);
// Every segment is in: nothing transfers any more, the file is being joined.
void MarkTransferDone(DownloadRecord& r);
void MarkFinished(DownloadRecord& r);
void MarkQueued(DownloadRecord& r);
void MarkUnqueued(DownloadRecord& r);
// The scheduled time came: the entry joins the queue.
void MarkScheduleDue(DownloadRecord& r);
void SetScheduled(DownloadRecord& r, bool scheduled);
void MarkResuming(DownloadRecord& r, bool resuming);
void MarkRemovedByUser(DownloadRecord& r);
// A finished entry cleared from the list.
void MarkCleared(DownloadRecord& r);
// An update package handed to the updater leaves the list.
void MarkInstalled(DownloadRecord& r);

// Debug builds: refuses flag combinations no sequence of transitions makes.
void CheckEntryState(const DownloadRecord& r);
