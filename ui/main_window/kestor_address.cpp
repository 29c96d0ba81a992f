// A download's new address: the command that asks for it and checks it, the offer of an
// address added from outside as the continuation of an unfinished download, and the page an
// expired link was on.

#include <QAction>
#include <QInputDialog>
#include <QPointer>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "engine/address_change/address_change.h"
#include "engine/address_change/address_changes.h"
#include "engine/engine_context.h"
#include "engine/queue/add_download.h"
#include "ui/language/apply_language.h"
#include "ui/main_window/continuation_offers.h"
#include "ui/main_window/kestor.h"

void Kestor::buildAddressActions() {
    changes_ = new AddressChanges(ctx_, queue_, this);
    offers_ = new ContinuationOffers(
        ctx_, queue_, [this](const QString& text) { return ask(text, QStringLiteral("Brenloft")); },
        [this](AddRequest& request, AddPrompts* prompts) {
            if (prompts != nullptr) {
                AddDownload(ctx_, queue_, *prompts, request);
            } else {
                add(request);
            }
        },
        this);
    askAddress_ = [this](const QString& label) -> std::optional<QString> {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Brenloft"), label,
                                                   QLineEdit::Normal, QString(), &ok);
        return ok ? std::optional<QString>(text) : std::nullopt;
    };
    changeAddress_ = new QAction(ctx_.texts.text(1342), this);
    changeAddress_->setObjectName(QStringLiteral("changeAddress"));
    SetTag(changeAddress_, 1342);
    connect(changeAddress_, &QAction::triggered, this, &Kestor::changeSelectedAddress);
    openReferer_ = new QAction(ctx_.texts.text(1354), this);
    openReferer_->setObjectName(QStringLiteral("openReferer"));
    SetTag(openReferer_, 1354);
    openReferer_->setVisible(false);
    connect(openReferer_, &QAction::triggered, this, &Kestor::openSelectedReferer);
}

void Kestor::changeSelectedAddress() {
    changeAddressOf(findSlot(selectedKey(), false, [](const DownloadRecord& r) {
        return StateOf(r) != ListEntryState::Finished;
    }));
}

void Kestor::changeAddressOf(int slot) {
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr || !Unfinished(*r) || changes_->checking(slot) || !askAddress_) {
        return;
    }
    const QString name = DecodeUrl(r->FileName);
    const std::optional<QString> typed = askAddress_(ctx_.texts.text(1353).arg(name));
    const QString url = typed.value_or(QString()).trimmed();
    if (url.isEmpty()) {
        return;
    }
    QPointer<Kestor> self(this);
    const bool started = changes_->Start(slot, url, [self, name](const SameFileVerdict& verdict) {
        if (self != nullptr) {
            self->addressChecked(name, verdict);
        }
    });
    if (started) {
        Status(ctx_.texts.text(1351));
        RefreshListView(0, true);
    }
}

void Kestor::addressChecked(const QString& name, const SameFileVerdict& verdict) {
    if (statusText(1) == ctx_.texts.text(1351)) {
        Status(QString());
    }
    RefreshListView(0, true);
    if (verdict.same()) {
        qCInfo(lcUi).noquote() << name << "continues from its new address";
        return;
    }
    if (errorMessage_) {
        errorMessage_(ctx_.texts.text(1352).arg(VerdictWords(verdict, ctx_.texts)));
    }
}

// The link is clicked again in the browser, which hands the fresh address over: it is then
// offered as this download's continuation.
void Kestor::openSelectedReferer() {
    const DownloadRecord* r = list_.record(findSlot(selectedKey(), false));
    if (r != nullptr && !r->Referer.isEmpty() && ctx_.openUrl) {
        ctx_.openUrl(DecodeUrl(r->Referer));
    }
}

void Kestor::offerOrAdd(const AddRequest& request, AddPrompts* prompts) {
    offers_->Offer(request, prompts);
}
