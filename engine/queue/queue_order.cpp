// The order waiting entries start in, and a remote client's changes to it.

#include <QHash>
#include <algorithm>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/queue_log.h"

namespace {

bool Waits(const DownloadRecord& r) {
    switch (StateOf(r)) {
        case ListEntryState::Queued:
        case ListEntryState::Scheduled:
        case ListEntryState::Waiting:
        case ListEntryState::Paused:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::vector<int> DownloadQueue::inQueueOrder(std::vector<int> chosen) const {
    const DownloadListState& list = ctx_.list;
    // Each slot's place looked up once, not at every comparison: the tick sorts with them.
    QHash<int, qsizetype> places;
    for (qsizetype i = 0; i < qsizetype(placed_.size()); ++i) {
        const auto [slot, added] = placed_[std::size_t(i)];
        if (slot <= UsedSlots(list) && list.DownloadList.at(slot).DateAdded.days() == added) {
            places.insert(slot, i);
        }
    }
    // Unplaced: after every placed one, by slot.
    const auto placeOf = [&](int slot) { return places.value(slot, qsizetype(placed_.size())); };
    std::stable_sort(chosen.begin(), chosen.end(), [&](int a, int b) {
        const int pa = list.DownloadList.at(a).Priority;
        const int pb = list.DownloadList.at(b).Priority;
        return pa != pb ? pa > pb : placeOf(a) < placeOf(b);
    });
    return chosen;
}

std::vector<int> DownloadQueue::WaitingOrder() const {
    return inQueueOrder(slotsWhere(Waits));
}

std::vector<int> DownloadQueue::slotsWhere(bool (*wanted)(const DownloadRecord&)) const {
    std::vector<int> found;
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        if (wanted(ctx_.list.DownloadList.at(slot))) {
            found.push_back(slot);
        }
    }
    return found;
}

int DownloadQueue::PlaceInQueue(int slot, int position) {
    std::vector<int> order = WaitingOrder();
    const auto found = std::find(order.begin(), order.end(), slot);
    if (found == order.end()) {
        return -1;
    }
    order.erase(found);
    const auto at = std::size_t(std::clamp<qsizetype>(position, 0, qsizetype(order.size())));
    order.insert(order.begin() + qsizetype(at), slot);
    // The priority of its neighbour keeps the order sorted by priority, as the queue reads it.
    if (order.size() > 1) {
        const int neighbour = at + 1 < order.size() ? order[at + 1] : order[at - 1];
        DownloadRecord& r = ctx_.list.DownloadList[slot];
        r.Priority = ctx_.list.DownloadList.at(neighbour).Priority;
    }
    placed_.clear();
    for (const int each : order) {
        placed_.emplace_back(each, ctx_.list.DownloadList.at(each).DateAdded.days());
    }
    qCInfo(lcQueue, "slot %d: place %d in the queue", slot, int(at));
    touchList();
    return int(at);
}
