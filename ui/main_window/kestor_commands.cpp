// The commands of the main window: the button row and the menus and toolbar
// that map onto it.

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTreeView>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/settings.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/urls/parse_url.h"
#include "engine/address_change/address_change.h"
#include "engine/assembly/assemble_download.h"
#include "engine/engine_context.h"
#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "engine/session/failure_words.h"
#include "ui/main_window/gui_add_prompts.h"
#include "ui/main_window/kestor.h"

namespace {

const QString kProgram = QStringLiteral("Brenloft");

// Clipboard text worth offering in the add dialog (the scheme in lower case).
bool StartsWithScheme(const QString& text) {
    return HasDownloadScheme(text);
}

// The home page of the server a download comes from: the server of its first address, where
// the user found it, when a fresh link (a mirror's, a signed one) has taken its place since.
QString SiteOf(const DownloadRecord& r) {
    const QStringList earlier = EarlierAddresses(r);
    const ParsedUrl first = earlier.isEmpty() ? ParsedUrl{} : ParseUrl(earlier.first());
    const bool useFirst = first.status == UrlValid;
    const std::int16_t protocol = useFirst ? first.protocol : r.Protocol;
    const std::int32_t port = useFirst ? first.port : r.Port;
    QString site = SchemeOf(protocol) + HostInUrl(useFirst ? first.host : r.HostName);
    if (port != 0 && port != DefaultPort(protocol)) {
        site += u':' + QString::number(port);
    }
    return site + u'/';
}

}  // namespace

void Kestor::Command1_Click(int index) {
    qCDebug(lcUi) << "main window command" << index;
    switch (index) {
        case AddUrl:
            addUrl();
            break;
        case DeleteUrl:
            deleteUrl();
            break;
        case Options:
            emit optionsRequested();
            break;
        case Quit:
            quit();
            break;
        case PauseDownload:
            pauseSelected();
            break;
        case PauseAll:
            pauseall();
            break;
        case ResumeAll:
            resumeall();
            break;
        case Browser:
            openBrowser();
            break;
        case ResetList:
            resetList();
            break;
        default:
            break;
    }
}

bool Kestor::ask(const QString& text, const QString& title, QMessageBox::Icon icon) const {
    return question_ && question_(text, title, icon);
}

int Kestor::findSlot(const QString& key, bool last,
                     const std::function<bool(const DownloadRecord&)>& also) const {
    if (key.isEmpty()) {
        return 0;
    }
    int found = 0;
    for (int slot = 1; slot <= UsedSlots(list_); ++slot) {
        const DownloadRecord& r = list_.DownloadList.at(slot);
        if (Listed(r) && r.Url == key && (!also || also(r))) {
            found = slot;
            if (!last) {
                break;
            }
        }
    }
    return found;
}

void Kestor::addUrl() {
    const QString clipboard = QGuiApplication::clipboard()->text();
    const QString trimmed = clipboard.trimmed();
    const QString prefill =
        !trimmed.isEmpty() && StartsWithScheme(trimmed) ? clipboard : QStringLiteral("http://");
    const std::optional<NewDownloadAnswer> answer = askNewDownload_(prefill);
    if (!answer) {
        qCInfo(lcUi) << "new download: cancelled";
        return;
    }
    addAnswer(*answer);
}

void Kestor::deleteUrl() {
    const int slot = findSlot(selectedKey(), false, [](const DownloadRecord& r) {
        return StateOf(r) != ListEntryState::Finished;
    });
    if (slot == 0 || !ask(ctx_.texts.text(411), kProgram)) {
        return;
    }
    queue_.DeleteEntry(slot);
    RefreshListView(0, true);
}

void Kestor::quit() {
    const int used = UsedSlots(list_);
    bool entries = false;
    for (int slot = 1; slot <= used && !entries; ++slot) {
        entries = Listed(list_.DownloadList.at(slot));
    }
    if (entries && !ask(ctx_.texts.text(410), kProgram)) {
        return;
    }
    emit quitRequested();
}

void Kestor::pauseSelected() {
    const int slot = findSlot(selectedKey(), false, [](const DownloadRecord& r) {
        return StateOf(r) == ListEntryState::Running;
    });
    if (slot != 0 && queue_.hasSession(slot)) {
        queue_.PauseSlot(slot);
    }
    RefreshListView(0, true);
}

void Kestor::pauseall() {
    queue_.pauseall();
    RefreshListView(0, true);
}

void Kestor::resumeall() {
    queue_.resumeall();
}

// No browser is named in the list, so the choice is ours: the home page of the
// selected download's server, where more of its kind is likely found. With
// nothing selected there is no server to open, and the button does nothing.
void Kestor::openBrowser() {
    if (!openBrowser_) {
        return;
    }
    QString key = selectedKey();
    if (key.isEmpty()) {
        key = finishedPane_->selectedKey();
    }
    const DownloadRecord* r = list_.record(findSlot(key, false));
    if (r != nullptr && !r->HostName.isEmpty()) {
        openBrowser_(SiteOf(*r));
    }
}

void Kestor::resetList() {
    const int used = UsedSlots(list_);
    bool unfinished = false;
    for (int slot = 1; slot <= used && !unfinished; ++slot) {
        unfinished = Unfinished(list_.DownloadList.at(slot));
    }
    if (unfinished && !ask(ctx_.texts.text(409), QStringLiteral("Question"))) {
        return;
    }
    queue_.ResetList();
    RefreshListView(0, true);
    RefreshDownList();
}

void Kestor::resumeSelected() {
    const int slot = findSlot(selectedKey(), true);
    const DownloadRecord* r = list_.record(slot);
    if (r != nullptr && Unfinished(*r) && StateOf(*r) != ListEntryState::Running) {
        queue_.Restart(slot);
    }
}

void Kestor::setSelectedPriority(int priority) {
    const QString key = selectedKey();
    if (key.isEmpty()) {
        return;
    }
    queue_.SetPriority(key, priority);
    RefreshListView(0, false);
}

void Kestor::toggleSchedule() {
    const int slot = findSlot(selectedKey(), false);
    if (slot == 0) {
        return;
    }
    queue_.ToggleSchedule(slot);
    RefreshListView(0, false);
}

void Kestor::removeFinished(const QStringList& keys) {
    if (keys.isEmpty()) {
        return;
    }
    queue_.RemoveFinished(keys);
    RefreshDownList();
}

void Kestor::removeSelectedFinished() {
    removeFinished(finishedPane_->selectedKeys());
}

void Kestor::removeAllFinished() {
    if (!ask(ctx_.texts.text(408), kProgram)) {
        return;
    }
    finishedPane_->listView()->selectAll();
    removeFinished(finishedPane_->selectedKeys());
}

void Kestor::forceFileBuilding_Click() {
    const int slot = findSlot(selectedKey(), true);
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr || queue_.building(slot)) {
        return;
    }
    // A download whose parts are all there is simply built; one with a gap only up to it, and
    // the user says so knowing how much that is.
    const ReceivedBytes received = ReceivedInOrder(*r);
    const QString inOrder = FormatSize(Currency::fromBytes(received.inOrder), ctx_.texts);
    const QString planned = FormatSize(Currency::fromBytes(received.planned), ctx_.texts);
    if (received.inOrder == 0 && !received.whole()) {
        if (errorMessage_) {
            errorMessage_(ctx_.texts.text(1242));
        }
        return;
    }
    if (!received.whole() &&
        !ask(ctx_.texts.text(1240).arg(inOrder, planned), kProgram, QMessageBox::Warning)) {
        return;
    }
    QPointer<Kestor> self(this);
    const std::int64_t upTo = received.whole() ? -1 : received.inOrder;
    queue_.ForceBuild(slot, upTo, [self, upTo, inOrder, planned](const AssemblyResult& result) {
        if (self == nullptr) {
            return;
        }
        if (!result.complete && self->errorMessage_) {
            self->errorMessage_(FailureReason(result.message, self->ctx_.texts));
        } else if (result.complete && upTo >= 0 && self->note_) {
            self->note_(self->ctx_.texts.text(1241).arg(inOrder, planned));
        }
        self->RefreshListView(0, true);
        self->RefreshDownList();
    });
}

void Kestor::toggleShowDownloadWindows() {
    Settings& settings = ctx_.settings;
    settings.ShowDownloadWindows = settings.ShowDownloadWindows != 0 ? FlagFalse : FlagTrue;
    SaveSingleOption(settings, store_, QStringLiteral("ShowDownloadWindows"));
    sdw_->setChecked(settings.ShowDownloadWindows != 0);
}
