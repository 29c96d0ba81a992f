#include "engine/address_change/address_changes.h"

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/list_additions.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/address_change/address_change.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"

AddressChanges::AddressChanges(EngineContext& context, DownloadQueue& queue, QObject* parent)
    : QObject(parent), ctx_(context), queue_(queue) {}

AddressChanges::~AddressChanges() {
    for (auto& [slot, pending] : checks_) {
        pending.check->Abort();
    }
}

bool AddressChanges::Start(int slot, const QString& newUrl, Done done) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || !Unfinished(*r) || checking(slot)) {
        return false;
    }
    // Paused as the pause command pauses it, its session kept: a pass resumes it, and so does
    // a refusal of one that was running (the old address still serves it).
    const bool wasRunning = StateOf(*r) == ListEntryState::Running;
    queue_.PauseSlot(slot);
    auto* check = new SameFileCheck(ctx_.sockets, ctx_.settings, this, ctx_.proxyResolver);
    check->setWait(wait_);
    checks_[slot] = Pending{check, r->Url, newUrl, std::move(done), wasRunning};
    connect(check, &SameFileCheck::finished, this,
            [this, slot](const SameFileVerdict& verdict) { finish(slot, verdict); });
    qCInfo(lcQueue, "slot %d: checking the new address %s", slot,
           qUtf8Printable(UrlForDisplay(newUrl)));
    check->Start(*r, newUrl);
    return true;
}

void AddressChanges::finish(int slot, SameFileVerdict verdict) {
    const auto it = checks_.find(slot);
    if (it == checks_.end()) {
        return;
    }
    Pending pending = std::move(it->second);
    checks_.erase(it);
    pending.check->deleteLater();
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || r->Url != pending.oldUrl || !Unfinished(*r)) {
        // Deleted or replaced while it was asked: there is nothing left to change.
        verdict = SameFileVerdict{};
        verdict.detail = QStringLiteral("the download left the list");
    } else if (verdict.same()) {
        // Started again by the user meanwhile: paused once more before the address goes.
        queue_.PauseSlot(slot);
        if (!ChangeAddress(*r, pending.newUrl)) {
            verdict.outcome = SameFileVerdict::Outcome::Unusable;
            verdict.detail = UrlForDisplay(pending.newUrl);
        }
    }
    qCInfo(lcQueue, "slot %d: new address %s: %s", slot,
           qUtf8Printable(UrlForDisplay(pending.newUrl)),
           verdict.same() ? "the same file" : qUtf8Printable(VerdictWords(verdict)));
    if (verdict.same()) {
        if (ctx_.saveListSoon) {
            ctx_.saveListSoon();
        }
        queue_.NotifyListChanged();
    }
    if (verdict.same() || (pending.wasRunning && r != nullptr && r->Url == pending.oldUrl)) {
        queue_.Restart(slot);
    }
    if (pending.done) {
        pending.done(verdict);
    }
}

int UnfinishedSlotOf(const DownloadListState& list, const QString& url) {
    // Found as adding finds an address the list has (EncodeUrl leaves an encoded one as it is).
    const int slot = FindActiveDuplicate(list, EncodeUrl(url));
    return slot > 0 && Unfinished(list.DownloadList.at(slot)) ? slot : 0;
}
