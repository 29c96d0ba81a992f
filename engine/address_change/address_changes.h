#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>

#include "engine/address_change/same_file_check.h"

class DownloadQueue;
struct DownloadListState;
struct EngineContext;

// Moves unfinished downloads to new addresses of their files, one check per entry at a time:
// the entry is paused first (nothing is written while the new address is asked), then, only
// when the address serves the same file, it takes the address and starts again from its bytes.
// The main window's command, the download window's button and the session bus all come here.
class AddressChanges : public QObject {
    Q_OBJECT
public:
    // Told once, from the event loop, with what the check found (Same: the address changed).
    using Done = std::function<void(const SameFileVerdict& verdict)>;

    AddressChanges(EngineContext& context, DownloadQueue& queue, QObject* parent = nullptr);
    ~AddressChanges() override;

    // False, starting nothing, when the slot holds no unfinished entry or one is being checked.
    bool Start(int slot, const QString& newUrl, Done done);
    bool checking(int slot) const { return checks_.contains(slot); }
    // Checks from now on wait this long for an answer (tests wait less).
    void setWait(std::chrono::milliseconds wait) { wait_ = wait; }

private:
    struct Pending {
        SameFileCheck* check = nullptr;
        QString oldUrl;  // the entry is found again by it: the list may change meanwhile
        QString newUrl;
        Done done;
        bool wasRunning = false;
    };
    void finish(int slot, SameFileVerdict verdict);

    EngineContext& ctx_;
    DownloadQueue& queue_;
    std::map<int, Pending> checks_;
    std::chrono::milliseconds wait_{30000};
};

// The slot of the unfinished entry whose address is `url`, as stored or encoded as adding
// encodes it; 0 when there is none.
int UnfinishedSlotOf(const DownloadListState& list, const QString& url);
