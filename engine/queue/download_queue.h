#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>

#include "core/types/ole_date.h"
#include "engine/session/download_session.h"
#include "engine/session/engine_context.h"

class SessionWindows;

// The running downloads of the list, one session per slot: starting and restarting entries
// under the simultaneous-download limit, the schedule, the queue by priority, pausing and
// resuming everything. It is the per-slot table of download windows, with the windows
// themselves left to a SessionWindows implementation.
class DownloadQueue : public QObject {
    Q_OBJECT
public:
    DownloadQueue(EngineContext& context, SessionWindows& windows, QObject* parent = nullptr);
    // Pauses what runs, closes every window and ends every session at once.
    ~DownloadQueue() override;

    // The common start: a session for the slot (new if it has none), the resume rebase of its
    // segments, the probe; Running -1, shown when "ShowDownloadWindows" is on.
    void StartSession(int slot);
    // Resumes the slot's session if it has one (and shows its window); otherwise starts it when
    // the limit allows, else queues it.
    void Restart(int slot);
    // A new entry's start, as adding a download makes it (deferFlag 0): a fresh session for
    // the slot and its probe, shown when "ShowDownloadWindows" is on. Running stays as it is
    // until the session's transfer begins.
    void StartNew(int slot);
    // Shows the window of the slot's session, if it has one.
    void ShowSession(int slot);
    // Asks the lists for a full refresh (an entry was added or changed outside the queue).
    void NotifyListChanged();
    // Pauses every running download that has a session; the sessions and windows stay.
    void pauseall();
    // Restarts every unfinished entry that is not running, in slot order.
    void resumeall();
    // Pauses the slot's session while it transfers (the pause button).
    void PauseSlot(int slot);
    // Ends the slot's session as its cancel button does (paused, what was stored kept) and
    // closes its window.
    void CloseSession(int slot);
    // The quit sequence's step: pause every running download and close its window.
    void StopAll();

    // Scheduler tick steps: scheduled entries whose time has come join the queue; then at most
    // one queued entry starts, highest priority first, lowest slot first.
    void ApplySchedule(OleDate now);
    void StartNextQueued();

    DownloadSession* session(int slot) const;
    bool hasSession(int slot) const { return session(slot) != nullptr; }
    // Entries with Active -1 and Running -1.
    int runningCount() const;

signals:
    // One entry's line in the main list changed (sessions report often: refresh unforced).
    void entryChanged(int slot);
    // Entries were started, queued, finished or removed: the lists need a full refresh.
    void listChanged();
    // A session planned its segments and made their part files: a list saved now knows them.
    void segmentsPlanned(int slot);
    // A session ended and asked its window to close; `why` is empty for a plain close.
    void sessionEnded(int slot, const QString& why);

private:
    class SlotObserver;
    struct Running {
        std::unique_ptr<SlotObserver> observer;
        DownloadSession* session = nullptr;  // a child of the queue, deleted from the event loop
    };

    class ListBatch;

    DownloadSession& openSession(int slot);
    void sessionClosed(int slot, DownloadSession* session, const QString& why);
    // Silences the slot's session, closes its view and drops it.
    void retireSession(int slot);
    void dropSession(int slot);
    // listChanged, once at the end of a command that touches many entries.
    void touchList();
    void queueScheduledEntries();

    EngineContext& ctx_;
    SessionWindows& windows_;
    std::map<int, Running> sessions_;
    int batchDepth_ = 0;
    bool listTouched_ = false;
};
