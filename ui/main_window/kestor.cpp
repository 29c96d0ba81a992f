#include "ui/main_window/kestor.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/types/tick.h"
#include "engine/address_change/address_change.h"
#include "engine/address_change/address_changes.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"
#include "engine/session/failure_words.h"
#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"
#include "ui/main_window/list_view_state.h"
#include "ui/main_window/unfinished_list_model.h"

namespace {

// Other instances find the running one by this title, so no language replaces
// it.
const QString kTitle = QStringLiteral("Brenloft ");

}  // namespace

Kestor::Kestor(EngineContext& context, DownloadQueue& queue, SettingsStore& store,
               std::function<void(const QString&)> openBrowser, QWidget* parent)
    : QMainWindow(parent),
      ctx_(context),
      list_(context.list),
      queue_(queue),
      store_(store),
      openBrowser_(std::move(openBrowser)),
      question_([this](const QString& text, const QString& title, QMessageBox::Icon icon) {
          // Some questions carry text from elsewhere (an update's notes): never
          // markup.
          return ShowMessageBox(icon, text, QMessageBox::Yes | QMessageBox::No, this, title) ==
                 QMessageBox::Yes;
      }),
      errorMessage_([this](const QString& text) {
          ShowMessageBox(QMessageBox::Critical, text, QMessageBox::Ok, this);
      }),
      // Not modal: the other downloads go on while it is read.
      note_([this](const QString& text) {
          QMessageBox* box = NewMessageBox(QMessageBox::Information, text, QMessageBox::Ok, this);
          box->setAttribute(Qt::WA_DeleteOnClose);
          box->show();
      }),
      askNewDownload_([this](const QString& prefill) {
          return AskNewDownload(this, ctx_.texts, prefill,
                                [this](const NewDownloadAnswer& some) { addAnswer(some); });
      }),
      tick_(MillisecondTick) {
    setObjectName(QStringLiteral("Kestor"));
    setWindowTitle(kTitle);
    SetTag(this, 0);  // the title stays as it is
    // 8000 twips high at least; the least width comes from the layout.
    setMinimumHeight(8000 / TwipsPerPixel);
    resize(960, 640);

    buildActions();
    buildMenus();
    buildToolbar();
    buildCentre();
    buildStatusLine();
    installHints();

    sdw_->setChecked(ctx_.settings.ShowDownloadWindows != 0);
    ApplyLanguage(this, ctx_.texts);
    Status(QStringLiteral("Brenloft version 1"));

    deferredTimer_ = new QTimer(this);
    deferredTimer_->setSingleShot(true);
    connect(deferredTimer_, &QTimer::timeout, this, &Kestor::refreshDeferred);
    connect(&queue_, &DownloadQueue::entryChanged, this,
            [this](int slot) { RefreshListView(slot, false); });
    connect(&queue_, &DownloadQueue::listChanged, this, &Kestor::scheduleFullRefresh);
    connect(&queue_, &DownloadQueue::sessionEnded, this, &Kestor::sessionEnded);

    RefreshListView(0, true);
    RefreshDownList();
    updateCommandStates();
}

Kestor::~Kestor() = default;

void Kestor::RefreshListView(int slot, bool force) {
    const std::int32_t now = tick_();
    const DownloadRecord* record = slot != 0 ? list_.record(slot) : nullptr;
    // A pause or a start must not wait behind the progress refreshes that came just before.
    force = force || (record != nullptr && unfinished_->stateDiffers(*record));
    const std::uint32_t since =
        lastRefresh_ ? static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(*lastRefresh_)
                     : 500u;
    if (!force && since <= 499u) {
        deferRefresh(slot, static_cast<std::int32_t>(500u - since));
        return;
    }
    lastRefresh_ = now;
    if (slot == 0) {
        deferredSlots_.clear();  // the rebuild draws them all
    } else {
        deferredSlots_.remove(slot);
        if (record == nullptr || record->FileName.isEmpty()) {
            return;
        }
        const DownloadSession* session = queue_.session(slot);
        unfinished_->setNote(record->Url, session != nullptr ? session->reconnecting() : QString());
        if (unfinished_->updateRow(*record)) {
            return;
        }
    }
    rebuildUnfinished();
}

void Kestor::deferRefresh(int slot, std::int32_t waitMs) {
    deferredSlots_.insert(slot);
    if (!deferredTimer_->isActive()) {
        deferredTimer_->start(waitMs);
    }
}

void Kestor::refreshDeferred() {
    const QSet<int> held = std::exchange(deferredSlots_, {});
    if (held.contains(0)) {
        RefreshListView(0, true);
        return;
    }
    for (const int slot : held) {
        RefreshListView(slot, true);
    }
}

void Kestor::rebuildUnfinished() {
    const ViewState state = Remember(listView1_, *unfinished_);
    unfinished_->rebuild(list_);
    Restore(listView1_, *unfinished_, state);
}

void Kestor::RefreshDownList() {
    finishedPane_->refresh(list_);
}

// Many entries may change in one turn of the event loop (a command over the
// whole list, several sessions ending together): the lists are rebuilt once,
// when the turn is over.
void Kestor::scheduleFullRefresh() {
    if (fullRefreshPending_) {
        return;
    }
    fullRefreshPending_ = true;
    QTimer::singleShot(0, this, [this] {
        fullRefreshPending_ = false;
        RefreshListView(0, true);
        RefreshDownList();
    });
}

void Kestor::Status(const QString& text) {
    if (panels_[0]->text() != text) {
        panels_[0]->setText(text);
    }
}

void Kestor::setSpeedText(const QString& text) {
    if (panels_[1]->text() != text) {
        panels_[1]->setText(text);
    }
}

void Kestor::setTotalText(const QString& text) {
    if (panels_[2]->text() != text) {
        panels_[2]->setText(text);
    }
}

QString Kestor::statusText(int panel) const {
    return panel >= 1 && panel <= 3 ? panels_[panel - 1]->text() : QString();
}

void Kestor::closeEvent(QCloseEvent* event) {
    // The close box keeps the program running in the tray; a close from code goes
    // through.
    if (event->spontaneous()) {
        event->ignore();
        emit closeToTray();
        return;
    }
    QMainWindow::closeEvent(event);
}

void Kestor::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!columnsFitted_) {
        columnsFitted_ = true;
        fitColumns();
    }
}

QString Kestor::selectedKey() const {
    const QModelIndexList rows = listView1_->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : unfinished_->keyAt(SourceRow(listView1_, rows.first()));
}

void Kestor::listView1DoubleClicked(const QModelIndex& index) {
    const int slot = findSlot(unfinished_->keyAt(SourceRow(listView1_, index)), false);
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr) {
        return;
    }
    if (StateOf(*r) == ListEntryState::Finished) {
        openCompleted(*r);
        return;
    }
    queue_.Restart(slot);
}

// The selected entry of the unfinished list, finished while its row still
// stands.
void Kestor::openSelected() {
    const DownloadRecord* r =
        list_.record(findSlot(selectedKey(), false, [](const DownloadRecord& e) {
            return StateOf(e) == ListEntryState::Finished;
        }));
    if (r != nullptr) {
        openCompleted(*r);
    }
}

void Kestor::openCompleted(const DownloadRecord& r) {
    if (!QFileInfo(r.SavePath).isFile()) {
        if (errorMessage_) {
            errorMessage_(ctx_.texts.text(802));
        }
        return;
    }
    if (ctx_.openUrl) {
        ctx_.openUrl(r.SavePath);
    }
}

// The reason a session ended stays with its entry until the entry runs again; a
// plain close (a pause) clears it.
void Kestor::sessionEnded(int slot, const QString& why) {
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr) {
        return;
    }
    const QString reason =
        StateOf(*r) == ListEntryState::Finished ? QString() : FailureReason(why, ctx_.texts);
    unfinished_->setNote(r->Url, QString());
    unfinished_->setReason(r->Url, reason);
}

void Kestor::updateCommandStates() {
    const int slot = findSlot(selectedKey(), false);
    const DownloadRecord* r = list_.record(slot);
    for (QAction* a : std::as_const(needsSelection_)) {
        a->setEnabled(r != nullptr);
    }
    if (r == nullptr) {
        shedulded_->setChecked(false);
        openReferer_->setVisible(false);
        opene_->setVisible(false);
        resumed_->setVisible(true);
        return;
    }
    const ListEntryState state = StateOf(*r);
    const bool running = state == ListEntryState::Running;
    const bool completed = state == ListEntryState::Finished;
    opene_->setVisible(completed);
    resumed_->setVisible(!completed);
    resumed_->setEnabled(!running && !completed);
    stopdl_->setEnabled(running && !completed);
    findChild<QAction*>(QStringLiteral("mPausedl"))->setEnabled(running && !completed);
    shedulded_->setEnabled(!running && !completed);
    shedulded_->setChecked(MarkedForSchedule(*r));
    changeAddress_->setEnabled(!completed && !changes_->checking(slot));
    openReferer_->setVisible(LinkExpired(*r) && !r->Referer.isEmpty());
    for (QAction* a : priorities_->actions()) {
        a->setChecked(a->data().toInt() == r->Priority);
    }
}

void Kestor::showListView1Menu(const QPoint& at) {
    if (!listView1_->indexAt(at).isValid() || selectedKey().isEmpty()) {
        return;
    }
    updateCommandStates();
    popup_->popup(listView1_->viewport()->mapToGlobal(at));
}
