// The list's commands of the download queue: deleting, resetting, clearing finished entries,
// priorities, the schedule mark and the queue mark. The front ends ask their questions first
// and then call these; nothing else edits the entries.

#include <QHash>
#include <vector>

#include "core/download_list/download_list.h"
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
        r->Active = FlagFalse;
        r->Running = FlagFalse;
        r->Transferring = FlagFalse;
        r->Removed = FlagTrue;
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
        if (r.Active == FlagTrue && r.Completed == FlagFalse) {
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
        if (r.Active == FlagTrue && !firstSlot.contains(r.Url)) {
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
    if (r == nullptr || r->Active != FlagTrue) {
        return;
    }
    qCInfo(lcQueue, "slot %d: remove %s from the list", slot, qUtf8Printable(LoggedAddress(*r)));
    r->Reserved5.clear();
    r->Active = FlagFalse;
    r->Removed = FlagTrue;
    touchList();
}

void DownloadQueue::SetPriority(const QString& url, int priority) {
    if (url.isEmpty()) {
        return;
    }
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        const DownloadRecord& seen = ctx_.list.DownloadList.at(slot);
        if (seen.Active == FlagTrue && seen.Url == url && seen.Priority != priority) {
            qCInfo(lcQueue, "slot %d: priority %d for %s", slot, priority,
                   qUtf8Printable(LoggedAddress(seen)));
            ctx_.list.DownloadList[slot].Priority = priority;
            touchList();
        }
    }
}

void DownloadQueue::ToggleSchedule(int slot) {
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || r->Running != FlagFalse || r->Completed != FlagFalse) {
        return;
    }
    r->Scheduled = static_cast<std::int16_t>(1 - r->Scheduled);
    qCInfo(lcQueue, "slot %d: %s %s", slot, r->Scheduled != 0 ? "schedule" : "unschedule",
           qUtf8Printable(LoggedAddress(*r)));
    touchList();
}

void DownloadQueue::ClearQueue() {
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        if (ctx_.list.DownloadList.at(slot).Queued != 0) {
            ctx_.list.DownloadList[slot].Queued = 0;
            touchList();
        }
    }
}
