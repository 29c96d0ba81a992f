#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "core/types/ole_date.h"
#include "engine/assembly/assemble_download.h"
#include "engine/engine_context.h"
#include "engine/session/download_session.h"

class SessionWindows;

// The running downloads of the list, one session per slot: starting and restarting entries
// under the simultaneous-download limit, the schedule, the queue by priority, pausing and
// resuming everything. It is the per-slot table of download windows, with the windows
// themselves left to a SessionWindows implementation.
//
// It is also the one owner of the list's commands: the main window, the tray, the session bus
// entry point, brenloft-get and the tests change entries only through it (and through adding,
// add_download.h), so that no front end edits a record on its own. The questions before a
// command (are you sure?) stay with the front end.
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
    // the slot and its probe, shown when "ShowDownloadWindows" is on. Running from then on,
    // so that it counts against the limit while its server has yet to answer.
    void StartNew(int slot);
    // Shows the window of the slot's session, if it has one.
    void ShowSession(int slot);
    // Asks the lists for a full refresh (an entry was added or changed outside the queue).
    void NotifyListChanged();
    // Pauses every running download that has a session; the sessions and windows stay.
    // Returns the slots it paused.
    std::vector<int> pauseall();
    // Restarts every unfinished entry that is not running, in slot order.
    void resumeall();
    // Pauses the slot's session while it transfers (the pause button).
    void PauseSlot(int slot);
    // Ends the slot's session as its cancel button does (paused, what was stored kept) and
    // closes its window.
    void CloseSession(int slot);
    // The quit sequence's step: pause every running download and close its window.
    void StopAll();

    // The list's commands (list_commands.cpp). Each tells the lists once when it is done.

    // Takes an unfinished entry off the list: its session closes, its part files go. False
    // when the slot holds no entry.
    bool DeleteEntry(int slot);
    // Empties the list: every session closes (also one still probing: none may outlive the
    // slot it serves), the part files of unfinished entries go. Remembered logins stay.
    void ResetList();
    // Takes entries off the list, their files untouched: for each address, the first entry in
    // the list that has it.
    void RemoveFinished(const QStringList& urls);
    // Takes one entry off the list, its files untouched (a download that is finished).
    void RemoveEntry(int slot);
    // Priority 0 (low) to 2 (high) for every entry of the address.
    void SetPriority(const QString& url, int priority);
    // Marks an entry that neither runs nor is finished for the schedule, or takes the mark off.
    void ToggleSchedule(int slot);
    // An update package was handed to the updater: its entry leaves the list.
    void RemoveInstalled(int slot);
    // The user's "build the file" from the parts stored so far, without a session: the first
    // `upTo` bytes (all when -1), the part files removed once it is built. False when the slot
    // is being built already; `done` is told once, from the event loop.
    bool ForceBuild(int slot, std::int64_t upTo, std::function<void(const AssemblyResult&)> done);
    bool building(int slot) const { return building_.contains(slot); }
    // Takes a queued or scheduled entry out of the queue and the schedule: it waits for the
    // user. False when the slot holds no such entry.
    bool HoldEntry(int slot);
    // Takes every entry out of the queue: brenloft-get starts only what its command names,
    // never what an interrupted run left waiting.
    void ClearQueue();
    // Marks every running entry queued as well: paused by StopAll and saved, such a list
    // starts them again under the limit, apart from those paused by hand. A daemon's end.
    void QueueRunning();

    // The entries that wait (queued, scheduled, held or paused), in the order the queue starts
    // them: highest priority first; within one, as PlaceInQueue placed them, then by slot.
    std::vector<int> WaitingOrder() const;
    // Moves a waiting entry to `position` of WaitingOrder() (0: next to start; beyond the end:
    // last), taking the priority of the entry it lands before (after, when last). Returns its
    // position, or -1 when the slot holds no waiting entry. The order lasts for this run.
    int PlaceInQueue(int slot, int position);

    // Scheduler tick steps: scheduled entries whose time has come join the queue; then at most
    // one queued entry starts, in WaitingOrder().
    void ApplySchedule(OleDate now);
    void StartNextQueued();

    DownloadSession* session(int slot) const;
    bool hasSession(int slot) const { return session(slot) != nullptr; }
    // Entries with Active -1 and Running -1.
    int runningCount() const;
    // The running downloads' rates added up, each as its session shows it (the status line's
    // speed).
    double runningRates() const;

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

    // Holds back listChanged while a command walks many entries; the outermost one sends it
    // once.
    class ListBatch {
    public:
        explicit ListBatch(DownloadQueue& queue) : queue_(queue) { ++queue_.batchDepth_; }
        ListBatch(const ListBatch&) = delete;
        ListBatch& operator=(const ListBatch&) = delete;
        ~ListBatch() {
            if (--queue_.batchDepth_ == 0 && std::exchange(queue_.listTouched_, false)) {
                emit queue_.listChanged();
            }
        }

    private:
        DownloadQueue& queue_;
    };

    DownloadSession& openSession(int slot);
    void sessionClosed(int slot, DownloadSession* session, const QString& why);
    // Silences the slot's session, closes its view and drops it.
    void retireSession(int slot);
    void dropSession(int slot);
    // listChanged, once at the end of a command that touches many entries.
    void touchList();
    void queueScheduledEntries();
    // `chosen` in the order the queue starts them (see WaitingOrder).
    std::vector<int> inQueueOrder(std::vector<int> chosen) const;
    // The slots whose entries `wanted` takes, in slot order.
    std::vector<int> slotsWhere(bool (*wanted)(const DownloadRecord&)) const;

    EngineContext& ctx_;
    SessionWindows& windows_;
    std::map<int, Running> sessions_;
    std::set<int> building_;  // slots a forced build is joining
    // The waiting entries as PlaceInQueue last ordered them: the slot, and the day its entry
    // was added, so that a slot reused by another entry since loses the place.
    std::vector<std::pair<int, double>> placed_;
    int batchDepth_ = 0;
    bool listTouched_ = false;
};
