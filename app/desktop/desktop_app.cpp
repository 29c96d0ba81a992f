#include "app/desktop/desktop_app.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QNetworkInformation>
#include <QSystemTrayIcon>
#include <QUrl>
#include <cstdio>
#include <utility>

#include "app/desktop/activation_file.h"
#include "app/desktop/command_line.h"
#include "app/desktop/desktop_notices.h"
#include "app/desktop/desktop_remote_control.h"
#include "app/desktop/options_wiring.h"
#include "app/desktop/other_program_links.h"
#include "app/desktop/single_instance.h"
#include "core/diagnostics/log_categories.h"
#include "core/download_list/list_file_format.h"
#include "core/paths/app_paths.h"
#include "core/scheduler/hand_off_file.h"
#include "core/scheduler/status_texts.h"
#include "core/settings/trusted_certificates.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/address_change/address_changes.h"
#include "engine/address_change/same_file_check.h"
#include "engine/checksum/checksum_checks.h"
#include "engine/files/part_files.h"
#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "integration/automation/velmora.h"
#include "integration/browsers/context_menu.h"
#include "integration/system/stay_awake.h"
#include "integration/system/system_proxy_resolver.h"
#include "ui/basket/basket_control.h"
#include "ui/basket/basket_placement.h"
#include "ui/basket/download_basket.h"
#include "ui/download_window/download_windows.h"
#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"
#include "ui/main_window/continuation_offers.h"
#include "ui/main_window/gui_add_prompts.h"
#include "ui/main_window/kestor.h"
#include "ui/options/options_window.h"
#include "ui/prompts/clipboard_question.h"
#include "ui/prompts/gui_session_prompts.h"
#include "ui/tray/program_icons.h"
#include "ui/tray/quenby_catcher.h"
#include "ui/zip_preview/message_box_queue.h"
#include "ui/zip_preview/preview_wiring.h"
#include "update/package_signature.h"
#include "update/update_installer.h"

namespace {

void OpenWithDesktop(const QString& target) {
    const QUrl url =
        target.contains(QStringLiteral("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
    QDesktopServices::openUrl(url);
}

}  // namespace

DesktopApp::DesktopApp(QObject* parent) : QObject(parent) {
    TimerC.setInterval(500);
    Timer5.setInterval(5000);
    connect(&TimerC, &QTimer::timeout, this, &DesktopApp::TimerC_Timer);
    connect(&Timer5, &QTimer::timeout, this, &DesktopApp::Timer5_Timer);
    saveSoon_.setSingleShot(true);
    saveSoon_.setInterval(SaveSoonMs);
    connect(&saveSoon_, &QTimer::timeout, this, &DesktopApp::Timer5_Timer);
    connect(&quitSignals_, &QuitSignals::quitRequested, this, &DesktopApp::QuitProgram);
}

DesktopApp::~DesktopApp() {
    // Windows first: they look at the sessions, which look at the sockets and the list.
    remote_.reset();
    notices_.reset();
    installer_.reset();
    options_.reset();
    velmora_.reset();
    previews_.reset();
    basket_.reset();
    catcher_.reset();
    kestor_.reset();
    links_.reset();
    awake_.reset();
    checks_.reset();
    queue_.reset();
    windows_.reset();
}

bool DesktopApp::StartUp(const QStringList& arguments) {
    folder_ = ApplicationFolder();
    const StartArguments start = ReadStartArguments(arguments.mid(1));
    // Told at once, by the start that was given them; the others still go.
    for (const QString& rejected : start.rejected) {
        std::fprintf(stderr, "Brenloft: not an http://, https:// or ftp:// address: %s\n",
                     qUtf8Printable(rejected));
    }

    CreateApplicationFolders(folder_);
    instance_ = std::make_unique<SingleInstance>(folder_);
    if (!instance_->becomePrimary()) {
        if (const QString why = instance_->handOver(start.handOffLines()); !why.isEmpty()) {
            std::fprintf(stderr, "Brenloft: %s\n", qUtf8Printable(why));
            exitCode_ = 1;
        }
        return false;
    }
    handedLines_ = instance_->takeEarlyLines();
    connect(instance_.get(), &SingleInstance::handedOver, this, [this](const QStringList& lines) {
        raiseMainWindow();
        handedLines_ += lines;
        // From the event loop: the socket's answer goes first, and a line may open a dialog.
        QTimer::singleShot(0, this, &DesktopApp::takeHandedLines);
    });

    const QStringList languageFolders = loadSettingsAndLanguage();
    createEngine();
    createWindows(languageFolders);

    store_->write(QStringLiteral("Options"), QStringLiteral("AppPath"), folder_);
    store_->sync();
    // Stands in for registering the automation class: a D-Bus call can now start us.
    WriteActivationFile(QCoreApplication::applicationFilePath());

    loadList();
    checks_->ResumeChecks();
    kestor_->RefreshListView(0, true);
    sockets_.StartSockets();
    sockets_.setLimits({settings_.UseSpeedLimiter == FlagTrue, settings_.SpeedLimiter});
    restoreMainWindowPosition();
    kestor_->RefreshDownList();
    startServing(start);
    return true;
}

QStringList DesktopApp::loadSettingsAndLanguage() {
    store_ = std::make_unique<SettingsStore>();
    LoadSettings(settings_, *store_, folder_);
    QStringList languageFolders = LanguageFolders(folder_);
    LoadLanguage(texts_, QStringLiteral("english"), languageFolders);
    LoadLanguage(texts_, settings_.Language, languageFolders);
    qtTexts_.use(texts_);

    // Under a bare window manager Qt names no icon theme but "hicolor", which has no icons for
    // file types or actions; the common freedesktop theme stands in where it is installed.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == u"hicolor") {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    return languageFolders;
}

void DesktopApp::createEngine() {
    prompts_ = std::make_unique<GuiSessionPrompts>(texts_);
    listPath_ = QDir(folder_).filePath(QLatin1String(ListFileName));
    ctx_ = std::make_unique<EngineContext>(
        EngineContext{list_, listPath_, settings_, texts_, sockets_, files_, *prompts_, actions_,
                      OpenWithDesktop, [this] { QuitProgram(); }, 0});
    // Through the periodic save's own way, so that it knows what the file now holds.
    ctx_->saveList = [this] { return saveListIfChanged(); };
    ctx_->saveListSoon = [this] {
        if (!saveSoon_.isActive()) {
            saveSoon_.start();
        }
    };
    trustedPath_ = QDir(folder_).filePath(QLatin1String(TrustedCertificatesFileName));
    sockets_.setTlsTrusted(LoadTrustedCertificates(trustedPath_));
    ctx_->trustCertificate = [this](const QString& host, const QByteArray& fingerprint) {
        sockets_.trustTlsCertificate(host, fingerprint);
        return RememberTrustedCertificate(trustedPath_, host, fingerprint);
    };
    hostLimits_ =
        std::make_unique<HostLimits>(QDir(folder_).filePath(QLatin1String(HostLimitsFileName)));
    ctx_->hostLimits = hostLimits_.get();
    windows_ = std::make_unique<DownloadWindows>(list_, texts_, OpenWithDesktop);
    createZipPreviews();
    queue_ = std::make_unique<DownloadQueue>(*ctx_, *windows_);
    // Before anything else follows the queue's sessions: a finished file's check is under way
    // when the window hears that its session ended.
    checks_ = std::make_unique<ChecksumChecks>(*ctx_, *queue_);
    // Saved soon rather than at the next periodic save, so that little work is fetched again
    // after a kill; a part file no saved list names is removed at the next start.
    connect(queue_.get(), &DownloadQueue::segmentsPlanned, this, [this] { ctx_->saveListSoon(); });
    followProxySettings();
}

void DesktopApp::followProxySettings() {
    if (settings_.SystemProxy == FlagTrue && !systemProxy_) {
        systemProxy_ = std::make_unique<SystemProxyResolver>();
    }
    ctx_->proxyResolver = settings_.SystemProxy == FlagTrue ? systemProxy_.get() : nullptr;
}

void DesktopApp::createWindows(const QStringList& languageFolders) {
    kestor_ = std::make_unique<Kestor>(*ctx_, *queue_, *store_, OpenWithDesktop);
    kestor_->watchChecksums(*checks_);
    addPrompts_ = std::make_unique<GuiAddPrompts>(kestor_.get());
    ApplyLanguage(kestor_.get(), texts_);
    kestor_->Status(QStringLiteral("Brenloft version 1"));
    connect(kestor_.get(), &Kestor::quitRequested, this, &DesktopApp::QuitProgram);
    connect(kestor_.get(), &Kestor::closeToTray, this, &DesktopApp::putAway);
    connect(&kestor_->continuationOffers(), &ContinuationOffers::settled, this,
            &DesktopApp::takeHandedLines);
    windows_->setChangeAddress([this](int slot) {
        raiseMainWindow();
        kestor_->changeAddressOf(slot);
    });
    createTrayAndBasket();
    notices_ = std::make_unique<DesktopNotices>(DesktopNotices::Parts{
        *ctx_, *queue_, *checks_, *windows_, kestor_->finishedPane(),
        [this] { return TrayTipText(speed_.activeCount(), kestor_->statusText(2), texts_); }});
    SetContextMenu(settings_.BrowserIngeration == FlagTrue, folder_);
    options_ = std::make_unique<OptionsWiring>(
        OptionsWiring::Parts{settings_, *store_, texts_, qtTexts_, sockets_, *queue_,
                             languageFolders, folder_, hostLimits_.get()},
        BrowserIntegration::SetupFor(folder_), AutoStartEntry::ForThisProgram());
    options_->addWindows([this] {
        return QList<QWidget*>{kestor_.get(), catcher_.get(),
                               basket_ ? basket_->basket() : nullptr} +
               windows_->openWindows() + previews_->openWindows();
    });
    connect(kestor_.get(), &Kestor::optionsRequested, options_.get(), &OptionsWiring::open);
    connect(options_.get(), &OptionsWiring::applied, this, &DesktopApp::followProxySettings);
    awake_ = std::make_unique<StayAwake>(
        *queue_, [this] { return settings_.StayAwake == FlagTrue; }, texts_.text(1500));
    connect(options_.get(), &OptionsWiring::applied, awake_.get(), &StayAwake::apply);
    links_ = HandLinksToOtherPrograms(
        *ctx_, *queue_, [this](const QString& text) { kestor_->Status(text); },
        [this](const QString& text) { tellLater(text); });
    createUpdateInstaller();
}

void DesktopApp::startServing(const StartArguments& start) {
    if (start.silent) {
        putAway();
    } else {
        kestor_->show();
    }
    watchNetwork();
    TimerC.start();
    Timer5.start();
    startRemoteControl();
    // Last: an activation call waits in the bus until the name is claimed, so it is served
    // only once the program is fully up.
    publishEntryPoint();
    for (const QString& url : start.urls) {
        addFromOutside(url, {}, {}, start.noRestart);
    }
    if (start.addAddress) {
        // From the event loop: the dialog waits for the user, start-up must not.
        QTimer::singleShot(0, kestor_.get(), [this] { kestor_->Command1_Click(Kestor::AddUrl); });
    }
    // What later starts handed over while this one was starting comes after its own.
    QTimer::singleShot(0, this, &DesktopApp::takeHandedLines);
}

void DesktopApp::loadList() {
    const ListLoadResult loaded = LoadList(list_, listPath_);
    lastSaved_ = EncodeListFile(list_);
    if (loaded.error.isEmpty()) {
        // Only against a list read whole: one that was damaged no longer names all its parts.
        const QString temp = DefaultTempFolder(folder_);
        const int removed = DeleteUnnamedPartFiles(list_, temp);
        qCInfo(lcQueue, "removed %d part files of %s that no entry names", removed,
               qUtf8Printable(temp));
        return;
    }
    qWarning("Brenloft: %s", qPrintable(loaded.error));
    // Once the window is up, and not modal: what loaded is usable while it is read.
    QTimer::singleShot(0, kestor_.get(), [this, error = loaded.error] {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Brenloft"), error,
                                    QMessageBox::Ok, kestor_.get());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextFormat(Qt::PlainText);
        box->show();
    });
}

void DesktopApp::createZipPreviews() {
    ZipPreviews::Hooks hooks;
    // Not modal: the preview's reads and the downloads go on while a message is read.
    zipMessages_ = std::make_unique<MessageBoxQueue>();
    hooks.tell = [this](const QString& text, bool warning) { zipMessages_->tell(text, warning); };
    hooks.defaultFolder = [this] { return settings_.DownloadFolder; };
    hooks.proxyResolver = [this] { return ctx_->proxyResolver; };
    previews_ = WireZipPreviews(*windows_, sockets_, settings_, texts_, list_, std::move(hooks));
}

void DesktopApp::createUpdateInstaller() {
    UpdateInstaller::Parts parts;
    parts.publicKey = BuiltInUpdateKey();
    parts.updaterProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/updater");
    parts.unpackFolder = DefaultTempFolder(folder_) + QStringLiteral("update");
    parts.program = QCoreApplication::applicationFilePath();
    parts.language = settings_.Language;
    parts.pid = QCoreApplication::applicationPid();
    parts.tell = [this](const QString& text) { tellLater(text); };
    parts.quit = [this] { QuitProgram(); };
    parts.installed = [this](int slot) { queue_->RemoveInstalled(slot); };
    installer_ = std::make_unique<UpdateInstaller>(*ctx_, std::move(parts));
    ctx_->installUpdate = [this](int slot, const QString& path) {
        if (installer_) {
            installer_->Install(slot, path);
        }
    };
}

void DesktopApp::tellLater(const QString& text) {
    QMessageBox* box = NewMessageBox(QMessageBox::Warning, text, QMessageBox::Ok, kestor_.get());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void DesktopApp::startRemoteControl() {
    remote_ = std::make_unique<DesktopRemoteControl>(DesktopRemoteControl::Parts{
        *ctx_, *queue_, *store_, [this](const QString& text) { tellLater(text); },
        [this] {
            // What the clients changed replaces what the window showed, so that its OK keeps it.
            if (Options* window = options_->window()) {
                window->RefreshFromOptions();
            }
        },
        [this] { QuitProgram(); }});
    connect(options_.get(), &OptionsWiring::applied, remote_.get(), &DesktopRemoteControl::apply);
    remote_->apply();
}

void DesktopApp::publishEntryPoint() {
    velmora_ = std::make_unique<Velmora>(
        [this](const QString& url, const QString& referer, const QString& cookie,
               const Checksum& checksum) { addFromOutside(url, referer, cookie, false, checksum); },
        [this](const QString& oldUrl, const QString& newUrl, const Velmora::Refusal& reply) {
            changeFromOutside(oldUrl, newUrl, reply);
        });
    const QString why = velmora_->publish(QDBusConnection::sessionBus());
    if (!why.isEmpty()) {
        // The program works without it; only browsers cannot hand addresses over.
        qWarning(
            "Brenloft: addresses from other programs arrive only through a later start "
            "(%s)",
            qUtf8Printable(why));
        velmora_.reset();
    }
}

void DesktopApp::takeHandedLines() {
    // A line's dialog or message waits for the user; the lines after it wait their turn.
    if (takingLines_) {
        return;
    }
    takingLines_ = true;
    // An address whose continuation is being looked for holds the lines after it back.
    while (!handedLines_.isEmpty() && !quitting_ && !kestor_->continuationOffers().busy()) {
        const QString line = handedLines_.takeFirst();
        const StartCommand command = ReadStartCommand(line);
        if (command.addAddress) {
            raiseMainWindow();
            kestor_->Command1_Click(Kestor::AddUrl);
        }
        if (auto url = HandOffUrl(command.url)) {
            addFromOutside(*url, {}, {}, command.noRestart);
        }
    }
    takingLines_ = false;
}

void DesktopApp::addFromOutside(const QString& url, const QString& referer, const QString& cookie,
                                bool noRestart, const Checksum& checksum) {
    AddRequest request;
    request.noRestart = noRestart;
    request.checksum = checksum;
    request.url = url;
    request.referer = referer;
    request.cookie = cookie;
    kestor_->offerOrAdd(request, addPrompts_.get());
}

// The bus's ChangeURL: the same check as the window's command, its refusal in English.
void DesktopApp::changeFromOutside(const QString& oldUrl, const QString& newUrl,
                                   const std::function<void(const QString& refusal)>& reply) {
    const int slot = UnfinishedSlotOf(list_, oldUrl);
    const bool started = slot != 0 && kestor_->addressChanges().Start(
                                          slot, newUrl, [reply](const SameFileVerdict& v) {
                                              reply(v.same() ? QString() : VerdictWords(v));
                                          });
    if (!started) {
        reply(slot == 0 ? QStringLiteral("no unfinished download has the address %1")
                              .arg(UrlForDisplay(oldUrl))
                        : QStringLiteral("the address of this download is being checked already"));
        return;
    }
    kestor_->RefreshListView(0, true);
}

void DesktopApp::TimerC_Timer() {
    sockets_.PumpSockets();

    // Not waited for: a later start holds the lock while it talks to this one. Released before
    // the lines are taken, which may wait for the user.
    if (const HandOffLock lock(folder_, HandOffLock::Wait::No); lock.held()) {
        const QString file = QDir(folder_).filePath(SingleInstance::HandOffFileName());
        handedLines_ += TakeHandOffLines(file).value_or(QStringList{});
    }
    takeHandedLines();

    // The question waits for the user; later ticks leave the clipboard alone meanwhile.
    if (!askingClipboard_) {
        if (const QClipboard* clipboard = QGuiApplication::clipboard()) {
            const QStringList offers = clipboard_.considerAll(clipboard->text(), list_, settings_);
            if (!offers.isEmpty()) {
                QStringList shown;
                for (const QString& offer : offers) {
                    shown << DecodeUrl(offer);
                }
                askingClipboard_ = true;
                const bool take = settings_.SaveAs == FlagTrue ||
                                  ConfirmClipboardUrls(kestor_.get(), texts_, shown);
                askingClipboard_ = false;
                for (const QString& offer : offers) {
                    if (!take || quitting_) {
                        break;
                    }
                    addFromOutside(offer);
                }
            }
        }
    }
    if (quitting_) {
        return;
    }

    kestor_->setTotalText(StatusTotalText(ctx_->receivedBytes, texts_));
    speed_.update(list_, queue_->runningRates());
    kestor_->setSpeedText(StatusSpeedText(speed_.speed(), texts_));
    if (catcher_) {
        catcher_->refreshMessage(TrayTipText(speed_.activeCount(), kestor_->statusText(2), texts_));
        catcher_->refreshIcon(speed_.trayLevel());
    }

    if (settings_.Schedule == FlagTrue) {
        queue_->ApplySchedule(OleDate::now());
    }
    queue_->StartNextQueued();
}

void DesktopApp::Timer5_Timer() {
    saveListIfChanged();
}

QString DesktopApp::saveListIfChanged() {
    // What the list is about to count as received is on the disk before it says so.
    if (settings_.SafeDisk == FlagTrue) {
        files_.VelmoraFlushAll();
    }
    // An idle program does not rewrite and sync the same list every five seconds.
    QByteArray bytes = EncodeListFile(list_);
    if (bytes == lastSaved_) {
        return {};
    }
    QString why = SaveEncodedList(bytes, listPath_);
    if (why.isEmpty()) {
        lastSaved_ = std::move(bytes);
    }
    return why;
}

void DesktopApp::QuitProgram() {
    if (quitting_ || !kestor_) {
        return;
    }
    quitting_ = true;
    instance_->stopListening();
    if (!handedLines_.isEmpty()) {
        // Taken over but not yet added: the next start adds them.
        const HandOffLock lock(folder_, HandOffLock::Wait::Yes);
        AppendHandOffLines(QDir(folder_).filePath(SingleInstance::HandOffFileName()),
                           std::exchange(handedLines_, {}));
    }
    TimerC.stop();
    Timer5.stop();
    saveSoon_.stop();
    saveWindowPositions();
    queue_->StopAll();
    basket_.reset();
    trayIcon_ = nullptr;
    catcher_.reset();
    sockets_.StopSockets();
    if (const QString why = SaveList(list_, listPath_); !why.isEmpty()) {
        qWarning("Brenloft: the download list was not saved: %s", qPrintable(why));
        exitCode_ = 1;
    }
    files_.VelmoraCloseAll();
    QCoreApplication::exit(exitCode_);
}

void DesktopApp::restoreMainWindowPosition() {
    const auto x = ReadWindowPixels(*store_, QStringLiteral("KestorX"));
    const auto y = ReadWindowPixels(*store_, QStringLiteral("KestorY"));
    const auto w = ReadWindowPosition(*store_, QStringLiteral("KestorWidth"));
    const auto h = ReadWindowPosition(*store_, QStringLiteral("KestorHeight"));
    if (!x || !y || !w || !h) {
        return;
    }
    if (*w > 0 && *h > 0) {
        kestor_->resize(*w / TwipsPerPixel, *h / TwipsPerPixel);
    }
    // A place on a screen unplugged since comes back onto the nearest one.
    kestor_->move(PlaceOnScreens(QRect(QPoint(*x, *y), kestor_->size()), ScreenGeometries()));
}

void DesktopApp::saveWindowPositions() {
    const QRect frame = kestor_->frameGeometry();
    WriteWindowPixels(*store_, QStringLiteral("KestorX"), frame.x());
    WriteWindowPixels(*store_, QStringLiteral("KestorY"), frame.y());
    WriteWindowPixels(*store_, QStringLiteral("KestorWidth"), kestor_->width());
    WriteWindowPixels(*store_, QStringLiteral("KestorHeight"), kestor_->height());
    if (basket_) {
        basket_->savePosition();
    }
    store_->sync();
}

void DesktopApp::putAway() {
    // Without a tray icon to bring it back, a hidden window would be out of reach.
    if (QSystemTrayIcon::isSystemTrayAvailable() && trayIcon_ != nullptr) {
        kestor_->hide();
    } else {
        kestor_->showMinimized();
    }
}

void DesktopApp::createTrayAndBasket() {
    QApplication::setWindowIcon(ProgramIcon());
    catcher_ = std::make_unique<QuenbyCatcher>(texts_);
    trayIcon_ = catcher_->trayIcon();
    connect(catcher_.get(), &QuenbyCatcher::openRequested, this, &DesktopApp::raiseMainWindow);
    connect(catcher_.get(), &QuenbyCatcher::pauseAllRequested, kestor_.get(), &Kestor::pauseall);
    connect(catcher_.get(), &QuenbyCatcher::resumeAllRequested, kestor_.get(), &Kestor::resumeall);
    // Queued: quitting unloads the tray window, whose menu entry is still being triggered.
    connect(catcher_.get(), &QuenbyCatcher::exitRequested, this, &DesktopApp::QuitProgram,
            Qt::QueuedConnection);
    basket_ = std::make_unique<BasketControl>(*kestor_->basketAction(), *catcher_, *store_,
                                              [this](const QString& url) { addFromOutside(url); });
}

void DesktopApp::raiseMainWindow() {
    kestor_->showNormal();
    kestor_->raise();
    kestor_->activateWindow();
}

void DesktopApp::watchNetwork() {
    // Where the system can tell, downloads wait while the network is gone and go on after.
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        return;
    }
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                // Only a machine with no network at all waits: a local server may still answer.
                const bool gone = reachability == QNetworkInformation::Reachability::Disconnected;
                if (gone && !offline_.active()) {
                    offline_.lost(list_, queue_->pauseall());
                } else if (!gone && reachability != QNetworkInformation::Reachability::Unknown &&
                           offline_.active()) {
                    // What the user paused or put off stays as they left it.
                    for (const int slot : offline_.back(list_)) {
                        queue_->Restart(slot);
                    }
                }
            });
}
