#include "engine/queue/download_queue.h"

#include <utility>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/list_additions.h"
#include "core/download_list/resume_rebase.h"
#include "core/settings/settings.h"
#include "engine/queue/queue_log.h"
#include "engine/queue/session_windows.h"

// Stands between a session and its view: every report goes on to the view, and the queue
// learns of the ones it acts on. Once its session has been dropped it forwards nothing, so a
// session that reports on its way out reaches neither a closed view nor the queue.
class DownloadQueue::SlotObserver : public SessionObserver {
public:
    SlotObserver(DownloadQueue& queue, int slot) : queue_(queue), slot_(slot) {}

    void attach(DownloadSession* session, SessionObserver* view) {
        session_ = session;
        view_ = view;
    }
    void detach() {
        live_ = false;
        view_ = nullptr;
    }

    void fileLabelChanged(const QString& text) override {
        if (view_ != nullptr) {
            view_->fileLabelChanged(text);
        }
    }
    void stateLabelChanged(const QString& text) override {
        if (view_ != nullptr) {
            view_->stateLabelChanged(text);
        }
    }
    void progressChanged() override {
        if (view_ != nullptr) {
            view_->progressChanged();
        }
        // The figures show in the main list too (its refresh keeps its own pace).
        if (live_) {
            emit queue_.entryChanged(slot_);
        }
    }
    void segmentsPlanned(int count) override {
        if (view_ != nullptr) {
            view_->segmentsPlanned(count);
        }
        if (live_) {
            emit queue_.segmentsPlanned(slot_);
        }
    }
    void segmentRowsChanged(int segment) override {
        if (view_ != nullptr) {
            view_->segmentRowsChanged(segment);
        }
    }
    void pauseButtonChanged(bool enabled, const QString& caption) override {
        if (view_ != nullptr) {
            view_->pauseButtonChanged(enabled, caption);
        }
    }
    void zipPreviewOffered(const QString& caption) override {
        if (view_ != nullptr) {
            view_->zipPreviewOffered(caption);
        }
    }
    bool zipPreviewWanted() override { return view_ != nullptr && view_->zipPreviewWanted(); }
    void downloadFinished(const QString& openCaption, const QString& folderCaption) override {
        if (view_ != nullptr) {
            view_->downloadFinished(openCaption, folderCaption);
        }
    }
    void entryChanged(int slot) override {
        if (view_ != nullptr) {
            view_->entryChanged(slot);
        }
        if (live_) {
            emit queue_.entryChanged(slot);
        }
    }
    void sessionClosed(const QString& why) override {
        if (view_ != nullptr) {
            view_->sessionClosed(why);
        }
        if (live_) {
            queue_.sessionClosed(slot_, session_, why);
        }
    }

private:
    DownloadQueue& queue_;
    const int slot_;
    DownloadSession* session_ = nullptr;
    SessionObserver* view_ = nullptr;
    bool live_ = true;
};

namespace {

// Read-only access, so that walking the list never detaches a shared copy of it.
const DownloadRecord& At(const DownloadListState& list, int slot) {
    return list.DownloadList.at(slot);
}

}  // namespace

DownloadQueue::DownloadQueue(EngineContext& context, SessionWindows& windows, QObject* parent)
    : QObject(parent), ctx_(context), windows_(windows) {}

DownloadQueue::~DownloadQueue() {
    // Running downloads are paused, so their records keep what was stored and read as
    // resumable; nothing is reported any more, the views close, and every session goes now,
    // while the observers it reports to still exist.
    for (auto& [slot, running] : sessions_) {
        running.observer->detach();
        const DownloadRecord* r = ctx_.list.record(slot);
        if (r != nullptr && StateOf(*r) == ListEntryState::Running) {
            running.session->PauseDownload();
        }
        windows_.closeView(slot);
    }
    qDeleteAll(findChildren<DownloadSession*>(QString(), Qt::FindDirectChildrenOnly));
    sessions_.clear();
}

DownloadSession* DownloadQueue::session(int slot) const {
    const auto it = sessions_.find(slot);
    return it != sessions_.end() ? it->second.session : nullptr;
}

int DownloadQueue::runningCount() const {
    return CountRunning(ctx_.list);
}

double DownloadQueue::runningRates() const {
    double total = 0;
    for (const auto& [slot, running] : sessions_) {
        const DownloadRecord* r = ctx_.list.record(slot);
        if (r != nullptr && StateOf(*r) == ListEntryState::Running) {
            total += running.session->shownSpeed().value_or(0);
        }
    }
    return total;
}

DownloadSession& DownloadQueue::openSession(int slot) {
    auto observer = std::make_unique<SlotObserver>(*this, slot);
    SlotObserver& watch = *observer;
    auto* created = new DownloadSession(ctx_, watch, this);
    sessions_[slot] = Running{std::move(observer), created};
    watch.attach(created, windows_.openView(slot, *created));
    return *created;
}

void DownloadQueue::StartSession(int slot) {
    if (ctx_.list.record(slot) == nullptr) {
        return;
    }
    DownloadSession* s = session(slot);
    if (s == nullptr) {
        s = &openSession(slot);
    }
    DownloadRecord* r = ctx_.list.record(slot);
    qCInfo(lcQueue, "slot %d: start %s%s", slot, qUtf8Printable(LoggedAddress(*r)),
           r->SegmentCount >= 1 ? " from its saved segments" : "");
    MarkUnqueued(*r);
    RebaseForResume(*r);
    // A start the user or the queue asked for gets the full set of connection attempts, not
    // what an earlier session left of them.
    r->RetryCount = 0;
    s->AttachRecord(slot);
    s->InitConnection();
    // The probe may end at once (an address this engine cannot fetch): then nothing runs.
    if (session(slot) == s) {
        r = ctx_.list.record(slot);
        MarkStarted(*r);
        if (ctx_.settings.ShowDownloadWindows == FlagTrue) {
            windows_.showView(slot);
        }
    }
    touchList();
}

void DownloadQueue::StartNew(int slot) {
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr) {
        return;
    }
    if (hasSession(slot)) {
        // A window left from an earlier use of the slot goes first; its pause must not mark
        // the new download.
        CloseSession(slot);
        r = ctx_.list.record(slot);
        ForgetPause(*r);
    }
    qCInfo(lcQueue, "slot %d: start new %s", slot, qUtf8Printable(LoggedAddress(*r)));
    DownloadSession& s = openSession(slot);
    s.AttachRecord(slot);
    s.InitConnection();
    if (session(slot) != &s) {
        return;  // the probe ended at once: nothing runs
    }
    // It holds its place under the limit from now on, not only once the server has answered:
    // otherwise every address of a batch would start before the first answer came.
    MarkStarted(*ctx_.list.record(slot));
    if (ctx_.settings.ShowDownloadWindows == FlagTrue) {
        windows_.showView(slot);
    }
}

void DownloadQueue::Restart(int slot) {
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr) {
        return;
    }
    if (DownloadSession* s = session(slot)) {
        qCInfo(lcQueue, "slot %d: resume %s", slot, qUtf8Printable(LoggedAddress(*r)));
        s->ResumeDownload();
        windows_.showView(slot);
        touchList();
        return;
    }
    if (runningCount() < ctx_.settings.MaxSimulDownlads) {
        StartSession(slot);
        return;
    }
    qCInfo(lcQueue, "slot %d: queue %s (%d running)", slot, qUtf8Printable(LoggedAddress(*r)),
           runningCount());
    MarkQueued(*r);
    touchList();
}

void DownloadQueue::ShowSession(int slot) {
    if (hasSession(slot)) {
        windows_.showView(slot);
    }
}

void DownloadQueue::NotifyListChanged() {
    emit listChanged();
}

std::vector<int> DownloadQueue::pauseall() {
    ListBatch batch(*this);
    std::vector<int> paused;
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        const DownloadRecord& r = At(ctx_.list, slot);
        DownloadSession* s = session(slot);
        if (StateOf(r) == ListEntryState::Running && s != nullptr) {
            s->PauseDownload();
            paused.push_back(slot);
        }
    }
    qCInfo(lcQueue, "pause all: %zu paused", paused.size());
    touchList();
    return paused;
}

void DownloadQueue::resumeall() {
    qCInfo(lcQueue, "resume all");
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        const DownloadRecord& r = At(ctx_.list, slot);
        if (Unfinished(r) && StateOf(r) != ListEntryState::Running) {
            Restart(slot);
        }
    }
}

void DownloadQueue::PauseSlot(int slot) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || StateOf(*r) != ListEntryState::Running) {
        return;
    }
    if (DownloadSession* s = session(slot)) {
        qCInfo(lcQueue, "slot %d: pause %s", slot, qUtf8Printable(LoggedAddress(*r)));
        s->PauseDownload();
    }
    touchList();
}

void DownloadQueue::CloseSession(int slot) {
    DownloadSession* s = session(slot);
    if (s == nullptr) {
        return;
    }
    // The session's own close reports back through sessionClosed, which closes the view and
    // drops it; one that stays silent is dropped here.
    s->CancelDownload();
    if (session(slot) == s) {
        retireSession(slot);
        touchList();
    }
}

void DownloadQueue::StopAll() {
    qCInfo(lcQueue, "stop all: %zu sessions", sessions_.size());
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        DownloadSession* s = session(slot);
        const DownloadRecord& seen = At(ctx_.list, slot);
        if (s == nullptr || StateOf(seen) != ListEntryState::Running) {
            continue;
        }
        s->PauseDownload();
        MarkStopped(ctx_.list.DownloadList[slot]);
        retireSession(slot);
        touchList();
    }
}

void DownloadQueue::ApplySchedule(OleDate now) {
    Settings& settings = ctx_.settings;
    if (settings.Schedule != FlagTrue) {
        return;
    }
    if (settings.ScheduleOption != 0) {
        if (now > settings.ScheduleHour) {
            queueScheduledEntries();
            // Daily: the next start is the same time on the first day still to come. Kept in
            // memory only, as the store keeps the time of day the user chose.
            settings.ScheduleHour = NextOccurrence(settings.ScheduleHour, now);
        }
    } else if (now > settings.ScheduleDate) {
        // Once: the moment stays, so whatever is marked later joins the queue at the next tick.
        queueScheduledEntries();
    }
}

void DownloadQueue::queueScheduledEntries() {
    ListBatch batch(*this);
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        const DownloadRecord& seen = At(ctx_.list, slot);
        if (StateOf(seen) == ListEntryState::Scheduled) {
            DownloadRecord& r = ctx_.list.DownloadList[slot];
            qCInfo(lcQueue, "slot %d: queue %s, its scheduled time has come", slot,
                   qUtf8Printable(LoggedAddress(r)));
            MarkScheduleDue(r);
            touchList();
        }
    }
}

void DownloadQueue::StartNextQueued() {
    const DownloadListState& list = ctx_.list;
    int running = 0;
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        const DownloadRecord& r = At(list, slot);
        running += StateOf(r) == ListEntryState::Running && !InQueue(r) ? 1 : 0;
    }
    if (running >= ctx_.settings.MaxSimulDownlads) {
        return;
    }
    // Only the queued ones are ordered: the tick comes here with the whole list. An entry that
    // runs already is never started twice.
    const std::vector<int> queued = inQueueOrder(
        slotsWhere([](const DownloadRecord& r) { return StateOf(r) == ListEntryState::Queued; }));
    if (!queued.empty()) {
        StartSession(queued.front());
    }
}

void DownloadQueue::sessionClosed(int slot, DownloadSession* closing, const QString& why) {
    const auto it = sessions_.find(slot);
    if (it == sessions_.end() || it->second.session != closing) {
        return;
    }
    it->second.observer->detach();
    // Whatever ended the session, nothing transfers the entry any more; a stale Running would
    // hold a place under the limit for good.
    if (DownloadRecord* r = ctx_.list.record(slot); r != nullptr) {
        MarkStopped(*r);
    }
    emit sessionEnded(slot, why);
    // Whoever heard of the end may have closed the session already.
    if (session(slot) == closing) {
        windows_.closeView(slot);
        dropSession(slot);
    }
    emit listChanged();
}

void DownloadQueue::retireSession(int slot) {
    const auto it = sessions_.find(slot);
    if (it == sessions_.end()) {
        return;
    }
    it->second.observer->detach();
    windows_.closeView(slot);
    dropSession(slot);
}

void DownloadQueue::dropSession(int slot) {
    const auto it = sessions_.find(slot);
    if (it == sessions_.end()) {
        return;
    }
    Running running = std::move(it->second);
    sessions_.erase(it);
    running.observer->detach();
    // The session may still be inside one of its handlers, and may report once more on its
    // way out: it and its observer go together, from the event loop.
    std::shared_ptr<SlotObserver> observer(std::move(running.observer));
    connect(running.session, &QObject::destroyed, [observer] {});
    running.session->deleteLater();
}

void DownloadQueue::touchList() {
    if (batchDepth_ > 0) {
        listTouched_ = true;
    } else {
        emit listChanged();
    }
}
