#include "core/scheduler/network_pause.h"

#include "core/download_list/entry_state.h"

namespace {

const DownloadRecord* At(const DownloadListState& list, int slot) {
    return slot >= 1 && slot <= UsedSlots(list) ? &list.DownloadList.at(slot) : nullptr;
}

}  // namespace

void NetworkPause::lost(const DownloadListState& list, const std::vector<int>& pausedSlots) {
    active_ = true;
    paused_.clear();
    for (const int slot : pausedSlots) {
        if (const DownloadRecord* r = At(list, slot)) {
            paused_.emplace_back(slot, r->Url);
        }
    }
}

std::vector<int> NetworkPause::back(const DownloadListState& list) {
    std::vector<int> again;
    for (const auto& [slot, url] : std::exchange(paused_, {})) {
        const DownloadRecord* r = At(list, slot);
        if (r != nullptr && r->Url == url && StateOf(*r) == ListEntryState::Paused) {
            again.push_back(slot);
        }
    }
    active_ = false;
    return again;
}
