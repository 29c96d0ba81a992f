#include "ui/main_window/continuation_offers.h"

#include "core/diagnostics/log_categories.h"
#include "core/download_list/checksum_note.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/address_change/address_change.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"

ContinuationOffers::ContinuationOffers(EngineContext& context, DownloadQueue& queue, Ask ask,
                                       Add add, QObject* parent)
    : QObject(parent),
      ctx_(context),
      queue_(queue),
      ask_(std::move(ask)),
      add_(std::move(add)),
      search_(context.list, context.sockets, context.settings) {
    connect(&search_, &ContinuationSearch::found, this,
            [this](int slot, const SameFileVerdict&) { found(slot); });
    connect(&search_, &ContinuationSearch::none, this, [this](const QStringList& refusals) {
        if (!refusals.isEmpty()) {
            qCInfo(lcQueue).noquote()
                << "continues nothing:" << refusals.join(QStringLiteral("; "));
        }
        addCurrent();
    });
}

void ContinuationOffers::Offer(const AddRequest& request, AddPrompts* prompts) {
    // The common case asks no server and keeps adding as immediate as it always was.
    if (!busy() && ContinuationCandidates(ctx_.list, request.url, request.referer).empty()) {
        AddRequest now = request;
        add_(now, prompts);
        return;
    }
    waiting_.push_back(Waiting{request, prompts});
    if (!busy()) {
        next();
    }
}

void ContinuationOffers::next() {
    if (waiting_.empty()) {
        current_.reset();
        emit settled();
        return;
    }
    current_ = std::move(waiting_.front());
    waiting_.pop_front();
    const AddRequest& request = current_->request;
    search_.Start(request.url, request.referer, request.cookie);
}

void ContinuationOffers::found(int slot) {
    DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || !current_) {
        addCurrent();
        return;
    }
    const QString percent = FormatPercent(r->Percent, ctx_.texts) + QStringLiteral(" %");
    const QString question = ctx_.texts.text(1343).arg(DecodeUrl(r->FileName), percent);
    // The question waits for the user; the entry is looked up again after it.
    if (!ask_ || !ask_(question)) {
        addCurrent();
        return;
    }
    r = ctx_.list.record(slot);
    const AddRequest& request = current_->request;
    if (r != nullptr && StateOf(*r) != ListEntryState::Running &&
        ChangeAddress(*r, request.url, request.referer, request.cookie)) {
        qCInfo(lcQueue, "slot %d continues from %s", slot,
               qUtf8Printable(UrlForDisplay(request.url)));
        if (request.checksum.valid()) {
            // Given with the new address, it is the file's as much as the address is.
            ChecksumNote note;
            note.expected = request.checksum;
            note.source = ChecksumNote::Given;
            KeepChecksumNote(*r, note);
        }
        if (ctx_.saveListSoon) {
            ctx_.saveListSoon();
        }
        queue_.NotifyListChanged();
        queue_.Restart(slot);
        next();
        return;
    }
    addCurrent();
}

void ContinuationOffers::addCurrent() {
    if (current_) {
        AddRequest request = current_->request;
        add_(request, current_->prompts);
    }
    next();
}
