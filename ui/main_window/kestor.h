#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPoint>
#include <QSet>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "ui/main_window/finished_pane.h"
#include "ui/main_window/update_links.h"
#include "ui/prompts/new_download_prompt.h"

class DownloadQueue;
class FlexColumns;
class ListSortProxy;
class QAction;
class QActionGroup;
class QLabel;
class QDropEvent;
class QMenu;
class QPushButton;
class QToolBar;
class QTimer;
class QTreeView;
class SettingsStore;
class UnfinishedListModel;
class AddPrompts;
class AddressChanges;
class ChecksumChecks;
struct SameFileVerdict;
class ContinuationOffers;
struct DownloadListState;
struct DownloadRecord;
struct AddRequest;
struct EngineContext;

// The main window: the unfinished downloads (ListView1) above the finished ones
// (ListView2, in a FinishedPane with the preview), the links (UpdateLinks), the
// button row, menus, toolbar and status line, and the commands that act on the
// list. Commands ask their questions, have the queue change the records (its
// list commands) and then refresh the lists, which are views only.
//
// Controls carry the names the language loader and tests find them by: the
// buttons are "Command1_0" to "Command1_8", each also with its index in the
// dynamic property "index"; menu entries and toolbar buttons are QActions named
// after their entry or key.
//
// Quitting, the options window and hiding into the tray are the owner's: the
// window asks for them through quitRequested, optionsRequested and closeToTray.
class Kestor : public QMainWindow {
    Q_OBJECT
public:
    // A question with Yes and No; true for Yes.
    using Question =
        std::function<bool(const QString& text, const QString& title, QMessageBox::Icon icon)>;
    using ErrorMessage = std::function<void(const QString& text)>;
    // The new-download prompt, pre-filled as given; nothing when cancelled.
    using NewDownloadAsk = std::function<std::optional<NewDownloadAnswer>(const QString& prefill)>;
    using TickSource = std::function<std::int32_t()>;
    // Asks for an address with `label` above it; nothing when cancelled.
    using AddressAsk = std::function<std::optional<QString>(const QString& label)>;

    // Indexes of the button row.
    enum Command {
        AddUrl = 0,
        DeleteUrl = 1,
        Options = 2,
        Quit = 3,
        PauseDownload = 4,
        PauseAll = 5,
        ResumeAll = 6,
        Browser = 7,
        ResetList = 8,
    };
    static constexpr int CommandCount = 9;

    // `openBrowser` opens an address in the user's web browser (see the Browser
    // command).
    Kestor(EngineContext& context, DownloadQueue& queue, SettingsStore& store,
           std::function<void(const QString& url)> openBrowser, QWidget* parent = nullptr);
    ~Kestor() override;

    // ListView1 for one slot (the row of its Url) or all of them (slot 0).
    // Unforced calls within 500 ms of the last refresh are done when the 500 ms
    // are over, unless the entry's state changed: that is drawn at once.
    void RefreshListView(int slot, bool force);
    // ListView2 anew.
    void RefreshDownList();

    // Status line: panel 1 takes the messages, panels 2 and 3 the speed and the
    // total.
    void Status(const QString& text);
    void setSpeedText(const QString& text);
    void setTotalText(const QString& text);
    QString statusText(int panel) const;

    // "Import list...": every address line of a text file is added; the lines
    // that are not addresses are counted in a message.
    void importFile(const QString& path);

    // Buttons 5 and 6, also the tray menu's.
    void pauseall();
    void resumeall();

    // The commands, as the buttons, menus and toolbar run them.
    void Command1_Click(int index);
    void resumeSelected();
    void setSelectedPriority(int priority);
    void toggleSchedule();
    void removeSelectedFinished();
    void removeAllFinished();
    void forceFileBuilding_Click();
    void toggleShowDownloadWindows();
    // "Change address...": asks the entry's new address and moves it there when it serves the
    // same file (kestor_address.cpp); also the download window's button.
    void changeAddressOf(int slot);
    // An address from outside the window, added once those before it are (asking through
    // `prompts`, else the window's own), or offered as the new address of an unfinished
    // download it continues.
    void offerOrAdd(const AddRequest& request, AddPrompts* prompts = nullptr);
    ContinuationOffers& continuationOffers() const { return *offers_; }
    // Shows what `checks` finds (the hashing's progress, the marks, a failure's offer to download
    // again) and hashes for "Copy SHA-256" (kestor_checksums.cpp). Without it the menu entry
    // stays hidden.
    void watchChecksums(ChecksumChecks& checks);
    AddressChanges& addressChanges() const { return *changes_; }
    // "About Brenloft": the program's name, what it does, its version
    // (kestor_hints.cpp).
    void about();
    QString aboutText() const;

    // Shows `media` in the preview panel as the file `realfile` names (`media`
    // when empty).
    void LoadMedia(const QString& media, const QString& realfile);
    // The menu's "Preview": the selected download's beginning, or its file once
    // finished.
    void previewSelected();
    PreviewPanel* previewPanel() const { return finishedPane_->previewPanel(); }

    QTreeView* listView1() const { return listView1_; }
    QTreeView* listView2() const { return finishedPane_->listView(); }
    const UnfinishedListModel& unfinishedRows() const { return *unfinished_; }
    const FinishedListModel& finishedRows() const { return finishedPane_->rows(); }
    // The checkable entry "sdb": the drop basket is shown while it is checked.
    // The button "Command5" checks it; the basket's owner follows it and unchecks
    // it to hide the basket.
    QAction* basketAction() const { return sdb_; }
    QMimeData* finishedDragData(const QStringList& keys) const {
        return finishedPane_->dragData(keys);
    }
    FinishedPane& finishedPane() const { return *finishedPane_; }

    // The dialogs and the clock, replaceable so that tests answer without modal
    // windows and drive the refresh throttle.
    void setQuestion(Question question) { question_ = std::move(question); }
    void setErrorMessage(ErrorMessage message) { errorMessage_ = std::move(message); }
    // What the user is told that is no error (how much a forced build made).
    void setNote(ErrorMessage note) { note_ = std::move(note); }
    void setNewDownloadAsk(NewDownloadAsk ask) { askNewDownload_ = std::move(ask); }
    void setAddressAsk(AddressAsk ask) { askAddress_ = std::move(ask); }
    void setTickSource(TickSource tick) { tick_ = std::move(tick); }
    // What adding a download asks; the real dialogs when none is set.
    void setAddPrompts(AddPrompts* prompts) { addPrompts_ = prompts; }
    // The update server (ConfiguredUpdateServer() until set) and how long the
    // check waits for its whole answer; for the next check.
    void setUpdateServer(const UpdateServer& server) { links_->setUpdateServer(server); }
    void setUpdateTimeLimit(std::chrono::milliseconds limit) { links_->setUpdateTimeLimit(limit); }

signals:
    void quitRequested();
    void optionsRequested();
    // The user closed the window with its close box: the program goes on in the
    // tray.
    void closeToTray();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Layout (kestor_layout.cpp)
    void buildActions();
    void buildMenus();
    void buildToolbar();
    void buildCentre();
    void buildUnfinished();
    QWidget* buildButtonRow();
    void buildStatusLine();
    QAction* action(const char* name, const QString& caption, void (Kestor::*run)());
    QAction* commandAction(const char* name, const QString& caption, int command);
    void fitColumns();

    // Refresh helpers (kestor.cpp)
    void rebuildUnfinished();
    void scheduleFullRefresh();
    // Keeps a refresh the throttle held back for the end of its interval.
    void deferRefresh(int slot, std::int32_t waitMs);
    void refreshDeferred();
    void listView1DoubleClicked(const QModelIndex& index);
    void openSelected();
    void openCompleted(const DownloadRecord& record);
    void sessionEnded(int slot, const QString& why);
    void showListView1Menu(const QPoint& at);
    void updateCommandStates();

    // Commands (kestor_commands.cpp)
    void addUrl();
    void deleteUrl();
    void quit();
    void pauseSelected();
    void openBrowser();
    void resetList();

    // Status-line hints (kestor_hints.cpp)
    void installHints();
    bool hintEvent(QObject* watched, QEvent* event);

    // Drops on the unfinished list (kestor_drag.cpp)
    bool listEvent(QObject* watched, QEvent* event);
    void dropOnUnfinished(QDropEvent& event);
    void add(AddRequest& request);

    // A new address for a download (kestor_address.cpp)
    void buildAddressActions();
    void changeSelectedAddress();
    void openSelectedReferer();
    void addressChecked(const QString& name, const SameFileVerdict& verdict);

    // Checksums of finished files (kestor_checksums.cpp)
    void checksumHashing(int slot, std::int64_t done, std::int64_t total);
    void checksumChecked(int slot);
    void copySha256(const QString& key);
    void offerFailedAgain();

    // Addresses from the add dialog or a list file (kestor_import.cpp)
    void addAnswer(const NewDownloadAnswer& answer);
    void importList();

    QString selectedKey() const;
    // The first (or last) slot in the list whose Url is `key` and that meets
    // `also`; 0 when there is none.
    int findSlot(const QString& key, bool last,
                 const std::function<bool(const DownloadRecord&)>& also = {}) const;
    bool ask(const QString& text, const QString& title,
             QMessageBox::Icon icon = QMessageBox::Question) const;
    void removeFinished(const QStringList& keys);

    EngineContext& ctx_;
    DownloadListState& list_;
    DownloadQueue& queue_;
    SettingsStore& store_;
    std::function<void(const QString&)> openBrowser_;

    Question question_;
    ErrorMessage errorMessage_;
    ErrorMessage note_;
    NewDownloadAsk askNewDownload_;
    TickSource tick_;
    AddPrompts* addPrompts_ = nullptr;
    AddressAsk askAddress_;
    AddressChanges* changes_ = nullptr;
    ContinuationOffers* offers_ = nullptr;
    ChecksumChecks* checks_ = nullptr;
    int copySlot_ = 0;         // hashed for "Copy SHA-256"
    QString hashingStatus_;    // the status line's progress while it shows
    QList<int> failedChecks_;  // checks that failed, their question still to come
    bool offeringAgain_ = false;
    std::optional<std::int32_t> lastRefresh_;
    QSet<int> deferredSlots_;  // 0: the whole list
    QTimer* deferredTimer_ = nullptr;
    bool fullRefreshPending_ = false;
    bool columnsFitted_ = false;

    UnfinishedListModel* unfinished_ = nullptr;
    ListSortProxy* unfinishedSorted_ = nullptr;
    QTreeView* listView1_ = nullptr;
    FlexColumns* listView1Flex_ = nullptr;  // name and server
    FinishedPane* finishedPane_ = nullptr;
    UpdateLinks* links_ = nullptr;
    std::array<QPushButton*, CommandCount> buttons_{};
    QToolBar* toolbar_ = nullptr;
    std::array<QLabel*, 3> panels_{};

    QMenu* popup_ = nullptr;  // ListView1's context menu
    QActionGroup* priorities_ = nullptr;
    QAction* resumed_ = nullptr;
    QAction* opene_ = nullptr;
    QAction* stopdl_ = nullptr;
    QAction* shedulded_ = nullptr;
    QAction* sdw_ = nullptr;
    QAction* sdb_ = nullptr;
    QAction* changeAddress_ = nullptr;
    QAction* openReferer_ = nullptr;
    QList<QAction*> needsSelection_;

    QLabel* label1_ = nullptr;  // "Current downloads"
};
