#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "core/checksums/checksum.h"
#include "core/download_list/download_list.h"
#include "core/process/quit_signals.h"
#include "core/scheduler/clipboard_watch.h"
#include "core/scheduler/network_pause.h"
#include "core/scheduler/speed_meter.h"
#include "core/settings/host_limits.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "engine/engine_context.h"
#include "engine/files/segment_files.h"
#include "integration/system/system_completion_actions.h"
#include "net/socket_module.h"
#include "ui/language/qt_translation.h"

class AddPrompts;
class BasketControl;
class ChecksumChecks;
class DesktopNotices;
class DesktopRemoteControl;
class DownloadQueue;
class DownloadWindows;
class GuiSessionPrompts;
class LinkHandover;
class Kestor;
class MessageBoxQueue;
class OptionsWiring;
class QuenbyCatcher;
class SystemProxyResolver;
class SingleInstance;
class StayAwake;
class UpdateInstaller;
class Velmora;
class ZipPreviews;
struct StartArguments;

// The running desktop program: everything start-up creates and quitting ends, the main
// window's two timers, and the ways a URL reaches the list from outside the main window (the
// command line, a second start, the clipboard).
class DesktopApp : public QObject {
    Q_OBJECT
public:
    explicit DesktopApp(QObject* parent = nullptr);
    ~DesktopApp() override;

    // Returns false when another Brenloft already runs for this application folder: it was
    // asked to raise its window and handed the addresses, and this process should end (with
    // exitCode() 1 when it did not confirm that it took them).
    bool StartUp(const QStringList& arguments);
    // Pauses the running downloads, saves the list and ends the event loop.
    void QuitProgram();

    Kestor* mainWindow() const { return kestor_.get(); }
    ZipPreviews* zipPreviews() const { return previews_.get(); }
    DownloadListState& list() { return list_; }
    int exitCode() const { return exitCode_; }

private:
    // The steps of start-up, in their order.
    QStringList loadSettingsAndLanguage();  // returns the folders language files come from
    void createEngine();
    void createWindows(const QStringList& languageFolders);
    void startServing(const StartArguments& start);  // shows the window, starts timers and bus

    void TimerC_Timer();
    void Timer5_Timer();
    // Saves the list when it differs from what was last saved; why it failed, or empty.
    QString saveListIfChanged();
    // The lines later starts handed over, in order: an address each, or "--add".
    void takeHandedLines();
    void addFromOutside(const QString& url, const QString& referer = {}, const QString& cookie = {},
                        bool noRestart = false, const Checksum& checksum = {});
    void changeFromOutside(const QString& oldUrl, const QString& newUrl,
                           const std::function<void(const QString& refusal)>& reply);
    void publishEntryPoint();
    void restoreMainWindowPosition();
    void saveWindowPositions();
    void putAway();
    void createTrayAndBasket();
    void createZipPreviews();
    // Loads the list, and tells why when it did not load whole (entries dropped, a file
    // refused).
    void loadList();
    void createUpdateInstaller();
    // After the list is loaded: clients see it whole from their first request.
    void startRemoteControl();
    // A message box that does not wait: the downloads go on while it is read.
    void tellLater(const QString& text);
    void raiseMainWindow();
    void watchNetwork();
    // The engine asks the system's proxy settings for routes while the options say so.
    void followProxySettings();

    QString folder_;
    QString listPath_;
    QString trustedPath_;                     // certificates the user trusts, one per host
    std::unique_ptr<HostLimits> hostLimits_;  // how many connections each server took
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<SettingsStore> store_;
    Settings settings_;
    TextTable texts_;
    QtTranslation qtTexts_;  // Qt's own buttons and editors in the same language
    DownloadListState list_;
    VelmoraSockets sockets_;
    SegmentFiles files_;
    std::unique_ptr<GuiSessionPrompts> prompts_;
    std::unique_ptr<AddPrompts> addPrompts_;
    SystemCompletionActions actions_;
    // Made the first time the options ask for it and kept after: a session may still wait
    // for its answer when they change back.
    std::unique_ptr<SystemProxyResolver> systemProxy_;
    std::unique_ptr<EngineContext> ctx_;
    std::unique_ptr<DownloadWindows> windows_;
    std::unique_ptr<MessageBoxQueue> zipMessages_;  // the previews' messages, one at a time
    std::unique_ptr<ZipPreviews> previews_;
    std::unique_ptr<DownloadQueue> queue_;
    std::unique_ptr<ChecksumChecks> checks_;  // every finished file against its checksum
    std::unique_ptr<StayAwake> awake_;        // no suspend while downloads run
    std::unique_ptr<LinkHandover> links_;     // magnet links and .torrent files
    std::unique_ptr<Kestor> kestor_;
    std::unique_ptr<QuenbyCatcher> catcher_;
    std::unique_ptr<BasketControl> basket_;
    std::unique_ptr<Velmora> velmora_;
    std::unique_ptr<OptionsWiring> options_;
    std::unique_ptr<UpdateInstaller> installer_;
    std::unique_ptr<DesktopRemoteControl> remote_;  // over the queue: goes before it
    std::unique_ptr<DesktopNotices> notices_;       // over the queue and the windows
    ClipboardWatch clipboard_;
    SpeedMeter speed_;
    NetworkPause offline_;  // the downloads the loss of the network paused
    QTimer TimerC;
    QTimer Timer5;
    // Events that come together (downloads finishing, plans made) are saved once, this long
    // after the first of them.
    static constexpr int SaveSoonMs = 500;
    QTimer saveSoon_;
    QuitSignals quitSignals_;
    QByteArray lastSaved_;
    QObject* trayIcon_ = nullptr;  // the tray icon, once the program has one
    QStringList handedLines_;      // handed over and not yet taken
    bool takingLines_ = false;
    bool askingClipboard_ = false;
    bool quitting_ = false;
    int exitCode_ = 0;
};
