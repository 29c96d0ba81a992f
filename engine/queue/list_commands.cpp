// The list's commands of the download queue: deleting, resetting, clearing finished entries,
// priorities, the schedule mark and the queue mark. The front ends ask their questions first
// and then call these; nothing else edits the entries.

#include <QHash>
#include <QPointer>
#include <vector>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/files/part_files.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/queue_log.h"

bool DownloadQueue::DeleteEntry(int slot) {
    const DownloadRecord* seen = ctx_.list.record(slot);
    if (seen == nullptr) {
        return false;
    }
    qCInfo(lcQueue, "slot %d: delete %s", slot, qUtf8Printable(LoggedAddress(*seen)));
    ListBatch batch(*this);
    CloseSession(slot);
    // Closing the session may have touched the list; the slot is looked up again.
    if (DownloadRecord* r = ctx_.list.record(slot)) {
        DeletePartFiles(*r);
        r->Reserved5.clear();  // the browser's cookies leave with the download
        MarkRemovedByUser(*r);
    }
    touchList();
    return true;
}

void DownloadQueue::ResetList() {
    ListBatch batch(*this);
    std::vector<int> open;
    for (const auto& [slot, running] : sessions_) {
        open.push_back(slot);
    }
    qCInfo(lcQueue, "reset the list: %d entries, %zu sessions", UsedSlots(ctx_.list), open.size());
    for (const int slot : open) {
        CloseSession(slot);
    }
    DownloadListState& list = ctx_.list;
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        const DownloadRecord& r = list.DownloadList.at(slot);
        if (Unfinished(r)) {
            DeletePartFiles(r);
        }
    }
    list.DownloadList.resize(1);
    list.DownloadCount = 0;
    touchList();
}

void DownloadQueue::RemoveFinished(const QStringList& urls) {
    if (urls.isEmpty()) {
        return;
    }
    ListBatch batch(*this);
    // The first entry in the list for each address, found in one pass: "clear all" over a long
    // list must not search the whole list once per row.
    const DownloadListState& list = ctx_.list;
    QHash<QString, int> firstSlot;
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        const DownloadRecord& r = list.DownloadList.at(slot);
        if (Listed(r) && !firstSlot.contains(r.Url)) {
            firstSlot.insert(r.Url, slot);
        }
    }
    for (const QString& url : urls) {
        const auto it = firstSlot.constFind(url);
        if (it != firstSlot.constEnd()) {
            RemoveEntry(*it);
        }
    }
}

void DownloadQueue::RemoveEntry(int slot) {
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || !Listed(*r)) {
        return;
    }
    qCInfo(lcQueue, "slot %d: remove %s from the list", slot, qUtf8Printable(LoggedAddress(*r)));
    r->Reserved5.clear();
    MarkCleared(*r);
    touchList();
}

void DownloadQueue::SetPriority(const QString& url, int priority) {
    if (url.isEmpty()) {
        return;
    }
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        const DownloadRecord& seen = ctx_.list.DownloadList.at(slot);
        if (Listed(seen) && seen.Url == url && seen.Priority != priority) {
            qCInfo(lcQueue, "slot %d: priority %d for %s", slot, priority,
                   qUtf8Printable(LoggedAddress(seen)));
            ctx_.list.DownloadList[slot].Priority = priority;
            touchList();
        }
    }
}

void DownloadQueue::ToggleSchedule(int slot) {
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || StateOf(*r) == ListEntryState::Running ||
        StateOf(*r) == ListEntryState::Finished) {
        return;
    }
    SetScheduled(*r, !MarkedForSchedule(*r));
    qCInfo(lcQueue, "slot %d: %s %s", slot, MarkedForSchedule(*r) ? "schedule" : "unschedule",
           qUtf8Printable(LoggedAddress(*r)));
    touchList();
}

bool DownloadQueue::HoldEntry(int slot) {
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr ||
        (StateOf(*r) != ListEntryState::Queued && StateOf(*r) != ListEntryState::Scheduled)) {
        return false;
    }
    qCInfo(lcQueue, "slot %d: hold %s", slot, qUtf8Printable(LoggedAddress(*r)));
    MarkUnqueued(*r);
    SetScheduled(*r, false);
    touchList();
    return true;
}

void DownloadQueue::ClearQueue() {
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        if (InQueue(ctx_.list.DownloadList.at(slot))) {
            MarkUnqueued(ctx_.list.DownloadList[slot]);
            touchList();
        }
    }
}

void DownloadQueue::QueueRunning() {
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        if (StateOf(ctx_.list.DownloadList.at(slot)) == ListEntryState::Running) {
            MarkQueued(ctx_.list.DownloadList[slot]);
            touchList();
        }
    }
}

void DownloadQueue::RemoveInstalled(int slot) {
    if (DownloadRecord* r = ctx_.list.record(slot); r != nullptr && Listed(*r)) {
        qCInfo(lcQueue, "slot %d: installed, leaves the list", slot);
        MarkInstalled(*r);
        touchList();
    }
}

bool DownloadQueue::ForceBuild(int slot, std::int64_t upTo,
                               std::function<void(const AssemblyResult&)> done) {
    if (ctx_.list.record(slot) == nullptr || !building_.insert(slot).second) {
        return false;
    }
    qCInfo(lcQueue, "slot %d: build the file from its parts (%lld bytes; -1: all)", slot,
           static_cast<long long>(upTo));
    // A running download stops first: its part files must not change under the join, nor be
    // written to once the join has deleted them.
    CloseSession(slot);
    QPointer<DownloadQueue> self(this);
    // The entry is finished once built: parts left behind would only fill the temp folder.
    AssembleDownload(
        ctx_, slot, true,
        [self, slot, done = std::move(done)](const AssemblyResult& result) {
            if (self != nullptr) {
                self->building_.erase(slot);
                self->touchList();
            }
            if (done) {
                done(result);
            }
        },
        upTo);
    return true;
}
