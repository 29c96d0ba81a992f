#include "engine/address_change/continuation_search.h"

#include <QTimer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/address_change/address_change.h"

ContinuationSearch::ContinuationSearch(DownloadListState& list, VelmoraSockets& sockets,
                                       const Settings& settings, QObject* parent)
    : QObject(parent), list_(list), check_(sockets, settings) {
    connect(&check_, &SameFileCheck::finished, this, [this](const SameFileVerdict& verdict) {
        if (verdict.same()) {
            emit found(candidates_[at_], verdict);
            return;
        }
        const DownloadRecord* r = list_.record(candidates_[at_]);
        refusals_ << (r != nullptr ? r->FileName : QString()) + QStringLiteral(": ") +
                         VerdictWords(verdict);
        ++at_;
        next();
    });
}

void ContinuationSearch::Start(const QString& newUrl, const QString& referer,
                               const QString& cookie) {
    check_.Abort();
    url_ = newUrl;
    cookie_ = cookie;
    candidates_ = ContinuationCandidates(list_, newUrl, referer);
    at_ = 0;
    refusals_.clear();
    ++generation_;
    // Reported from the event loop even when there is nothing to check.
    QTimer::singleShot(0, this, [this, generation = generation_] {
        if (generation == generation_) {
            next();
        }
    });
}

void ContinuationSearch::Abort() {
    check_.Abort();
    ++generation_;
}

void ContinuationSearch::next() {
    // An entry may have started, or left the list, while an earlier one was checked.
    while (at_ < candidates_.size()) {
        const DownloadRecord* r = list_.record(candidates_[at_]);
        if (r != nullptr && Unfinished(*r) && StateOf(*r) != ListEntryState::Running) {
            check_.Start(*r, url_, cookie_, true);
            return;
        }
        ++at_;
    }
    emit none(refusals_);
}
