#pragma once

#include <QString>
#include <utility>
#include <vector>

#include "core/download_list/download_list.h"

// The downloads the loss of the network paused, so that its return starts those again and
// leaves alone what the user paused or put off for later. Kept in memory: after a restart
// every unfinished download waits for the user anyway.
class NetworkPause {
public:
    // The network is gone and these slots, running until then, were paused.
    void lost(const DownloadListState& list, const std::vector<int>& pausedSlots);
    bool active() const { return active_; }
    // The network is back: the slots to start again, in slot order. Those the loss paused that
    // are still paused as it left them: not resumed, deleted or given to another address since.
    std::vector<int> back(const DownloadListState& list);

private:
    std::vector<std::pair<int, QString>> paused_;  // slot and its address
    bool active_ = false;
};
