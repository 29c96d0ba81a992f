// The checksums of finished files as the window shows them: the hashing's progress in the
// status line, the finished list's marks and the details' line once a file is checked, "Copy
// SHA-256", and the offer to download again a file whose checksum failed.

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "engine/checksum/checksum_checks.h"
#include "engine/engine_context.h"
#include "engine/queue/add_download.h"
#include "ui/main_window/checksum_texts.h"
#include "ui/main_window/gui_add_prompts.h"
#include "ui/main_window/kestor.h"

namespace {

// The user has just said yes to fetching the file again: adding does not ask a second time.
class AlreadyAnswered : public AddPrompts {
public:
    explicit AlreadyAnswered(AddPrompts& inner) : inner_(inner) {}
    void showError(const QString& text) override { inner_.showError(text); }
    std::optional<QString> askSavePath(const QString& title, const QString& proposedName,
                                       const QString& filter) override {
        return inner_.askSavePath(title, proposedName, filter);
    }
    bool askYesNo(const QString& /*text*/) override { return true; }

private:
    AddPrompts& inner_;
};

bool IsFinished(const DownloadRecord& r) {
    return StateOf(r) == ListEntryState::Finished;
}

}  // namespace

void Kestor::watchChecksums(ChecksumChecks& checks) {
    checks_ = &checks;
    connect(&checks, &ChecksumChecks::hashing, this, &Kestor::checksumHashing);
    connect(&checks, &ChecksumChecks::checked, this, &Kestor::checksumChecked);
    finishedPane_->setCopySha256([this](const QString& key) { copySha256(key); });
}

void Kestor::checksumHashing(int slot, std::int64_t done, std::int64_t total) {
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr || total <= 0) {
        return;
    }
    const ChecksumNote note = ReadChecksumNote(*r);
    // Hashed for the kind it is checked against; for its SHA-256 alone when that was asked.
    const DigestKind kind =
        slot == copySlot_ || !note.expected.valid() ? DigestKind::Sha256 : note.expected.kind;
    const int percent = static_cast<int>(done * 100 / total);
    hashingStatus_ = HashingText(kind, DecodeUrl(r->FileName), percent, ctx_.texts);
    Status(hashingStatus_);
}

void Kestor::checksumChecked(int slot) {
    if (!hashingStatus_.isEmpty() && statusText(1) == hashingStatus_) {
        Status(QString());
    }
    hashingStatus_.clear();
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr) {
        return;
    }
    RefreshDownList();
    finishedPane_->refreshDetails(r->Url);
    const ChecksumNote note = ReadChecksumNote(*r);
    if (slot == std::exchange(copySlot_, 0)) {
        // Hashed for the copy the user asked for: its result was offered once already.
        if (!note.sha256.isEmpty()) {
            QGuiApplication::clipboard()->setText(note.sha256);
        } else if (errorMessage_) {
            errorMessage_(ctx_.texts.text(1361).arg(r->SavePath));
        }
        return;
    }
    if (note.outcome == ChecksumNote::Outcome::Failed && !failedChecks_.contains(slot)) {
        failedChecks_ << slot;
        // From the event loop: the question waits for the user, the hasher's signal must not.
        QTimer::singleShot(0, this, &Kestor::offerFailedAgain);
    }
}

void Kestor::copySha256(const QString& key) {
    const int slot = findSlot(key, false, IsFinished);
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr) {
        return;
    }
    if (const QString known = ReadChecksumNote(*r).sha256; !known.isEmpty()) {
        QGuiApplication::clipboard()->setText(known);
        return;
    }
    if (!QFileInfo(r->SavePath).isFile()) {
        if (errorMessage_) {
            errorMessage_(ctx_.texts.text(687) + u' ' + r->SavePath);
        }
        return;
    }
    if (checks_ == nullptr) {
        return;
    }
    copySlot_ = slot;
    // Large files say how far they are as they go; this tells at once that it began.
    hashingStatus_ = HashingText(DigestKind::Sha256, DecodeUrl(r->FileName), 0, ctx_.texts);
    Status(hashingStatus_);
    checks_->HashSha256(slot);
}

// One question at a time, in the order the checks failed. Yes fetches the file again as adding
// a finished address does, into the same file, against the same checksum when the user gave
// it (one the server offered is looked for anew).
void Kestor::offerFailedAgain() {
    if (offeringAgain_) {
        return;
    }
    offeringAgain_ = true;
    while (!failedChecks_.isEmpty()) {
        const int slot = failedChecks_.takeFirst();
        const DownloadRecord* r = list_.record(slot);
        const ChecksumNote note = r != nullptr ? ReadChecksumNote(*r) : ChecksumNote{};
        if (r == nullptr || !IsFinished(*r) || note.outcome != ChecksumNote::Outcome::Failed) {
            continue;
        }
        const QString url = r->Url;
        const QString text = ctx_.texts.text(1371).arg(DecodeUrl(r->FileName)) + u'\n' +
                             ChecksumLine(note, ctx_.texts) + QStringLiteral("\n\n") +
                             ctx_.texts.text(1367);
        // The entry is looked up again after the question: the list may have changed meanwhile.
        if (!ask(text, QStringLiteral("Brenloft"), QMessageBox::Warning) ||
            (r = list_.record(slot)) == nullptr || r->Url != url || !IsFinished(*r)) {
            continue;
        }
        AddRequest request;
        request.url = url;
        request.referer = r->Referer;
        request.cookie = r->Reserved5;
        if (note.given()) {
            request.checksum = note.expected;
        }
        if (checks_ != nullptr) {
            checks_->Forget(slot);  // a copy's hash waiting for the failed file is void
        }
        GuiAddPrompts gui(this, ctx_.settings.DownloadFolder);
        AlreadyAnswered prompts(addPrompts_ != nullptr ? *addPrompts_ : gui);
        AddDownload(ctx_, queue_, prompts, request);
    }
    offeringAgain_ = false;
    RefreshListView(0, true);
    RefreshDownList();
}
