#include "core/download_list/entry_state.h"

#include <QtGlobal>

#include "core/download_list/records.h"

namespace {

// The list file stores booleans as 0 / -1; older lists may hold 1 for a mark.
bool Set(std::int16_t flag) {
    return flag != 0;
}

// Out of the list with nothing running, marked removed in the file.
void LeaveList(DownloadRecord& r) {
    r.Active = FlagFalse;
    r.Running = FlagFalse;
    r.Transferring = FlagFalse;
    r.Removed = FlagTrue;
    CheckEntryState(r);
}

}  // namespace

ListEntryState StateOf(const DownloadRecord& r) {
    if (r.Active != FlagTrue) {
        return r.Removed == FlagTrue ? ListEntryState::Removed : ListEntryState::Free;
    }
    if (r.Completed == FlagTrue) {
        return ListEntryState::Finished;
    }
    if (r.Running == FlagTrue) {
        return ListEntryState::Running;
    }
    // What a stopped entry waits for: the queue, its time, or the user after a failure.
    if (Set(r.Queued)) {
        return ListEntryState::Queued;
    }
    if (Set(r.Scheduled)) {
        return ListEntryState::Scheduled;
    }
    if (r.Failed == FlagTrue) {
        return ListEntryState::Failed;
    }
    return r.Paused == FlagTrue ? ListEntryState::Paused : ListEntryState::Waiting;
}

const char* StateName(ListEntryState state) {
    switch (state) {
        case ListEntryState::Free:
            return "free";
        case ListEntryState::Removed:
            return "removed";
        case ListEntryState::Waiting:
            return "waiting";
        case ListEntryState::Queued:
            return "queued";
        case ListEntryState::Scheduled:
            return "scheduled";
        case ListEntryState::Running:
            return "running";
        case ListEntryState::Paused:
            return "paused";
        case ListEntryState::Failed:
            return "failed";
        case ListEntryState::Finished:
            return "finished";
    }
    return "?";
}

bool Listed(const DownloadRecord& r) {
    return r.Active == FlagTrue;
}

bool Unfinished(const DownloadRecord& r) {
    return r.Active == FlagTrue && r.Completed == FlagFalse;
}

bool FileComplete(const DownloadRecord& r) {
    return r.Completed == FlagTrue;
}

bool HeldByPause(const DownloadRecord& r) {
    return r.Paused == FlagTrue;
}

bool LastAttemptFailed(const DownloadRecord& r) {
    return r.Failed == FlagTrue;
}

std::int16_t FailureCodeOf(const DownloadRecord& r) {
    return r.Failed == FlagTrue ? r.Reserved4 : std::int16_t{0};
}

bool InQueue(const DownloadRecord& r) {
    return Set(r.Queued);
}

bool MarkedForSchedule(const DownloadRecord& r) {
    return Set(r.Scheduled);
}

bool ResumingFromPlan(const DownloadRecord& r) {
    return Set(r.Resuming);
}

void EnterList(DownloadRecord& r) {
    r.Failed = FlagFalse;
    r.Reserved4 = 0;
    r.Queued = 0;
    r.Scheduled = 0;
    r.Paused = FlagFalse;
    r.Resuming = FlagFalse;
    r.Active = FlagTrue;
    r.Transferring = FlagTrue;
    r.Completed = FlagFalse;
    r.Removed = FlagFalse;
    CheckEntryState(r);
}

void ClearFreeSlot(DownloadRecord& r) {
    r.Reserved4 = 0;
    r.Queued = 0;
    r.Scheduled = 0;
    r.Paused = 0;
    r.Transferring = 0;
    r.Removed = 0;
    CheckEntryState(r);
}

void SettleAfterLoad(DownloadRecord& r) {
    if (r.Active != FlagTrue) {
        return;
    }
    // Running when the program last stopped without quitting: it comes back paused.
    if (r.Running == FlagTrue) {
        r.Running = FlagFalse;
        r.Paused = FlagTrue;
    }
    // Marks a list written elsewhere may combine wrongly: an entry in the list is not
    // removed.
    r.Removed = FlagFalse;
    CheckEntryState(r);
}

void MarkStarted(DownloadRecord& r) {
    r.Paused = FlagFalse;
    r.Running = FlagTrue;
    CheckEntryState(r);
}

void ForgetPause(DownloadRecord& r) {
    r.Paused = FlagFalse;
    CheckEntryState(r);
}

void MarkRunning(DownloadRecord& r) {
    r.Running = FlagTrue;
    CheckEntryState(r);
}

void MarkAttemptStarted(DownloadRecord& r) {
    r.Failed = FlagFalse;
    r.Reserved4 = 0;
    CheckEntryState(r);
}

void MarkPaused(DownloadRecord& r) {
    r.Running = FlagFalse;
    r.Paused = FlagTrue;
    CheckEntryState(r);
}

void MarkFailed(DownloadRecord& r, std::int16_t code) {
    r.Running = FlagFalse;
    r.Completed = FlagFalse;
    r.Failed = FlagTrue;
    r.Reserved4 = code;
    CheckEntryState(r);
}

void MarkStopped(DownloadRecord& r) {
    r.Running = FlagFalse;
    CheckEntryState(r);
}

void MarkTransferDone(DownloadRecord& r) {
    r.Transferring = FlagFalse;
    r.Running = FlagFalse;
    CheckEntryState(r);
}

void MarkFinished(DownloadRecord& r) {
    r.Completed = FlagTrue;
    r.Running = FlagFalse;
    r.Transferring = FlagFalse;
    CheckEntryState(r);
}

void MarkQueued(DownloadRecord& r) {
    r.Queued = 1;
    CheckEntryState(r);
}

void MarkUnqueued(DownloadRecord& r) {
    r.Queued = 0;
    CheckEntryState(r);
}

void MarkScheduleDue(DownloadRecord& r) {
    r.Queued = 1;
    r.Scheduled = 0;
    CheckEntryState(r);
}

void SetScheduled(DownloadRecord& r, bool scheduled) {
    r.Scheduled = scheduled ? 1 : 0;
    CheckEntryState(r);
}

void MarkResuming(DownloadRecord& r, bool resuming) {
    r.Resuming = resuming ? FlagTrue : FlagFalse;
    CheckEntryState(r);
}

void MarkRemovedByUser(DownloadRecord& r) {
    LeaveList(r);
}

void MarkCleared(DownloadRecord& r) {
    r.Active = FlagFalse;
    r.Removed = FlagTrue;
    CheckEntryState(r);
}

void MarkInstalled(DownloadRecord& r) {
    r.Active = FlagFalse;
    CheckEntryState(r);
}

void CheckEntryState(const DownloadRecord& r) {
    // A running transfer is neither paused nor finished, and a removed entry is out of the list.
    Q_ASSERT(!(r.Running == FlagTrue && r.Paused == FlagTrue));
    Q_ASSERT(!(r.Running == FlagTrue && r.Completed == FlagTrue));
    Q_ASSERT(!(r.Active == FlagTrue && r.Removed == FlagTrue));
    Q_UNUSED(r);
}
