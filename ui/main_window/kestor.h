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
#include <memory>
#include <optional>

#include "ui/prompts/new_download_prompt.h"
#include "update/update_server.h"

class DownloadQueue;
class FinishedListModel;
class FlexColumns;
class ListSortProxy;
class QAction;
class QActionGroup;
class QLabel;
class QDropEvent;
class QMenu;
class QMimeData;
class PreviewPanel;
class QPushButton;
class QTimer;
class QToolBar;
class QTreeView;
class SettingsStore;
class UnfinishedListModel;
class UpdateCheck;
class AddPrompts;
struct UpdateCheckResult;
struct DownloadListState;
struct DownloadRecord;
struct AddRequest;
struct EngineContext;

// The main window: the unfinished downloads (ListView1) above the finished ones (ListView2),
// the button row, menus, toolbar and status line, and the commands that act on the list.
// Commands ask their questions, have the queue change the records (its list commands) and
// then refresh the lists, which are views only.
//
// Controls carry the names the language loader and tests find them by: the buttons are
// "Command1_0" to "Command1_8", each also with its index in the dynamic property "index";
// menu entries and toolbar buttons are QActions named after their entry or key.
//
// Quitting, the options window and hiding into the tray are the owner's: the window asks for
// them through quitRequested, optionsRequested and closeToTray.
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

    // `openBrowser` opens an address in the user's web browser (see the Browser command).
    Kestor(EngineContext& context, DownloadQueue& queue, SettingsStore& store,
           std::function<void(const QString& url)> openBrowser, QWidget* parent = nullptr);
    ~Kestor() override;

    // ListView1 for one slot (the row of its Url) or all of them (slot 0). Unforced calls
    // within 500 ms of the last refresh do nothing.
    void RefreshListView(int slot, bool force);
    // ListView2 anew.
    void RefreshDownList();

    // Status line: panel 1 takes the messages, panels 2 and 3 the speed and the total.
    void Status(const QString& text);
    void setSpeedText(const QString& text);
    void setTotalText(const QString& text);
    QString statusText(int panel) const;

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
    // The finished list's menu: the selected file, its folder, its address to the clipboard.
    void openSelectedFinished();
    void openSelectedFinishedFolder();
    void copySelectedFinishedAddress();
    void forceFileBuilding_Click();
    void toggleShowDownloadWindows();
    // "About Brenloft": the program's name, what it does, its version (kestor_hints.cpp).
    void about();
    QString aboutText() const;
    // The two links (kestor_update.cpp): "Auto update Brenloft" asks the update server once
    // per run and offers a newer version as an update download; "Visit Brenloft website"
    // opens the server's page in the browser.
    void Label7_Click();
    void Label2_Click();

    // Shows `media` in the preview panel as the file `realfile` names (`media` when empty).
    void LoadMedia(const QString& media, const QString& realfile);
    // The menu's "Preview": the selected download's beginning, or its file once finished.
    void previewSelected();
    PreviewPanel* previewPanel() const { return Picture1; }

    QTreeView* listView1() const { return listView1_; }
    QTreeView* listView2() const { return listView2_; }
    const UnfinishedListModel& unfinishedRows() const { return *unfinished_; }
    const FinishedListModel& finishedRows() const { return *finished_; }
    // The checkable entry "sdb": the drop basket is shown while it is checked. The button
    // "Command5" checks it; the basket's owner follows it and unchecks it to hide the basket.
    QAction* basketAction() const { return sdb_; }
    // What a drag out of the finished list carries for these entries: their files as file
    // addresses (the ones still there), their addresses as text for our own list.
    QMimeData* finishedDragData(const QStringList& keys) const;

    // The dialogs and the clock, replaceable so that tests answer without modal windows and
    // drive the refresh throttle.
    void setQuestion(Question question) { question_ = std::move(question); }
    void setErrorMessage(ErrorMessage message) { errorMessage_ = std::move(message); }
    void setNewDownloadAsk(NewDownloadAsk ask) { askNewDownload_ = std::move(ask); }
    void setTickSource(TickSource tick) { tick_ = std::move(tick); }
    // What adding a download asks; the real dialogs when none is set.
    void setAddPrompts(AddPrompts* prompts) { addPrompts_ = prompts; }
    // The update server (ConfiguredUpdateServer() until set) and how long the check waits for
    // its whole answer; for the next check.
    void setUpdateServer(const UpdateServer& server) { updateServer_ = server; }
    void setUpdateTimeLimit(std::chrono::milliseconds limit) { updateTimeLimit_ = limit; }

signals:
    void quitRequested();
    void optionsRequested();
    // The user closed the window with its close box: the program goes on in the tray.
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
    void buildStatusLine();
    QAction* action(const char* name, const QString& caption, void (Kestor::*run)());
    QAction* commandAction(const char* name, const QString& caption, int command);
    void fitColumns();

    // Refresh helpers (kestor.cpp)
    void rebuildUnfinished();
    void scheduleFullRefresh();
    void listView1DoubleClicked(const QModelIndex& index);
    void listView2DoubleClicked(const QModelIndex& index);
    void openFinished(const QString& key);
    void openSelected();
    void openCompleted(const DownloadRecord& record);
    void sessionEnded(int slot, const QString& why);
    void showListView1Menu(const QPoint& at);
    void showListView2Menu(const QPoint& at);
    void updateCommandStates();

    // Commands (kestor_commands.cpp)
    void addUrl();
    void deleteUrl();
    void quit();
    void pauseSelected();
    void openBrowser();
    void resetList();

    // The preview panel (kestor_preview.cpp)
    void buildPreview();
    void showPreviewPanel();
    void listView2Clicked(const QModelIndex& index);

    // Status-line hints (kestor_hints.cpp)
    void installHints();
    bool hintEvent(QObject* watched, QEvent* event);

    // Drag and drop (kestor_drag.cpp)
    bool listEvent(QObject* watched, QEvent* event);
    void dropOnUnfinished(QDropEvent& event);
    void dragFinished();
    void add(AddRequest& request);

    // The links (kestor_update.cpp)
    QWidget* buildLinks();
    void showLinkHover(QLabel* label, bool hover);
    void updateCheckFinished(const UpdateCheckResult& result);

    QString selectedKey() const;
    QString selectedFinishedKey() const;
    QString finishedKey(const QModelIndex& index) const;
    QStringList selectedFinishedKeys() const;
    // The first (or last) slot in the list whose Url is `key` and that meets `also`; 0 when
    // there is none.
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
    NewDownloadAsk askNewDownload_;
    TickSource tick_;
    AddPrompts* addPrompts_ = nullptr;
    QSet<int> building_;  // slots whose file is being built by force
    std::optional<std::int32_t> lastRefresh_;
    bool fullRefreshPending_ = false;
    bool columnsFitted_ = false;
    bool DraggedFile = false;    // a drag out of the finished list is under way
    bool PreviewEnabled = true;  // the preview panel is shown
    bool DblClick = false;       // a double click opened a finished file
    QString clickedFile_;        // previewed when the click's wait is over
    QTimer* clickPreview_ = nullptr;
    std::optional<QPoint> dragStart_;

    UnfinishedListModel* unfinished_ = nullptr;
    FinishedListModel* finished_ = nullptr;
    ListSortProxy* unfinishedSorted_ = nullptr;
    ListSortProxy* finishedSorted_ = nullptr;
    QTreeView* listView1_ = nullptr;
    QTreeView* listView2_ = nullptr;
    FlexColumns* listView1Flex_ = nullptr;  // name and server
    FlexColumns* listView2Flex_ = nullptr;  // name and address
    std::array<QPushButton*, CommandCount> buttons_{};
    QToolBar* toolbar_ = nullptr;
    std::array<QLabel*, 3> panels_{};
    PreviewPanel* Picture1 = nullptr;
    QPushButton* Command4 = nullptr;  // shows and hides the preview

    QMenu* popup_ = nullptr;  // ListView1's context menu
    QMenu* pop2_ = nullptr;   // ListView2's
    QActionGroup* priorities_ = nullptr;
    QAction* resumed_ = nullptr;
    QAction* opene_ = nullptr;
    QAction* stopdl_ = nullptr;
    QAction* shedulded_ = nullptr;
    QAction* sdw_ = nullptr;
    QAction* sdb_ = nullptr;
    QList<QAction*> needsSelection_;

    QLabel* label1_ = nullptr;  // "Current downloads"
    QLabel* Label7 = nullptr;   // "Auto update Brenloft"; its tag is "CONN" once asked
    QLabel* Label2 = nullptr;   // "Visit Brenloft website"
    UpdateServer updateServer_;
    std::chrono::milliseconds updateTimeLimit_{30000};
    std::unique_ptr<UpdateCheck> updateCheck_;
};
