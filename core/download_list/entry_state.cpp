#include "core/download_list/entry_state.h"

#include <QtGlobal>

#include "core/download_list/records.h"

namespace {

// The list file stores booleans as 0 / -1; older lists may hold 1 for a mark.
bool Set(std::int16_t flag) {
    return flag != 0;
}

template <typename Change>
void Move(DownloadRecord& r, Change change) {
    change(r);
    CheckEntryState(r);
}

void LeaveList(DownloadRecord& r) {
    r.Active = FlagFalse;
    r.Running = FlagFalse;
    r.Transferring = FlagFalse;
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
    Move(r, [](DownloadRecord& e) {
        e.Failed = FlagFalse;
        e.Queued = 0;
        e.Scheduled = 0;
        e.Paused = FlagFalse;
        e.Resuming = FlagFalse;
        e.Active = FlagTrue;
        e.Transferring = FlagTrue;
        e.Completed = FlagFalse;
        e.Removed = FlagFalse;
    });
}

void ClearFreeSlot(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Queued = 0;
        e.Scheduled = 0;
        e.Paused = 0;
        e.Transferring = 0;
        e.Removed = 0;
    });
}

void SettleAfterLoad(DownloadRecord& r) {
    if (r.Active != FlagTrue) {
        return;
    }
    Move(r, [](DownloadRecord& e) {
        // Running when the program last stopped without quitting: it comes back paused.
        if (e.Running == FlagTrue) {
            e.Running = FlagFalse;
            e.Paused = FlagTrue;
        }
        // Marks a list written elsewhere may combine wrongly: an entry in the list is not
        // removed.
        e.Removed = FlagFalse;
    });
}

void MarkStarted(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Paused = FlagFalse;
        e.Running = FlagTrue;
    });
}

void ForgetPause(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) { e.Paused = FlagFalse; });
}

void MarkRunning(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) { e.Running = FlagTrue; });
}

void MarkAttemptStarted(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) { e.Failed = FlagFalse; });
}

void MarkPaused(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Running = FlagFalse;
        e.Paused = FlagTrue;
    });
}

void MarkFailed(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Running = FlagFalse;
        e.Completed = FlagFalse;
        e.Failed = FlagTrue;
    });
}

void MarkStopped(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) { e.Running = FlagFalse; });
}

void MarkTransferDone(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Transferring = FlagFalse;
        e.Running = FlagFalse;
    });
}

void MarkFinished(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Completed = FlagTrue;
        e.Running = FlagFalse;
        e.Transferring = FlagFalse;
    });
}

void MarkQueued(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) { e.Queued = 1; });
}

void MarkUnqueued(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) { e.Queued = 0; });
}

void MarkScheduleDue(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Queued = 1;
        e.Scheduled = 0;
    });
}

void SetScheduled(DownloadRecord& r, bool scheduled) {
    Move(r, [scheduled](DownloadRecord& e) { e.Scheduled = scheduled ? 1 : 0; });
}

void MarkResuming(DownloadRecord& r, bool resuming) {
    Move(r, [resuming](DownloadRecord& e) { e.Resuming = resuming ? FlagTrue : FlagFalse; });
}

void MarkRemovedByUser(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        LeaveList(e);
        e.Removed = FlagTrue;
    });
}

void MarkRemovedByServer(DownloadRecord& r, bool marked) {
    Move(r, [marked](DownloadRecord& e) {
        LeaveList(e);
        if (marked) {
            e.Removed = FlagTrue;
        }
    });
}

void MarkCleared(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) {
        e.Active = FlagFalse;
        e.Removed = FlagTrue;
    });
}

void MarkInstalled(DownloadRecord& r) {
    Move(r, [](DownloadRecord& e) { e.Active = FlagFalse; });
}

void CheckEntryState(const DownloadRecord& r) {
    // A running transfer is neither paused nor finished, and a removed entry is out of the list.
    Q_ASSERT(!(r.Running == FlagTrue && r.Paused == FlagTrue));
    Q_ASSERT(!(r.Running == FlagTrue && r.Completed == FlagTrue));
    Q_ASSERT(!(r.Active == FlagTrue && r.Removed == FlagTrue));
    Q_UNUSED(r);
}
