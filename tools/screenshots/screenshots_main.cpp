// Shows the desktop program with a prepared list and each of its prompts, and writes a PNG of
// every window, frame included, into a folder. Run by tools/screenshot under Xvfb.
// usage: brenloft-screenshots OUTDIR DOWNLOAD_URL OTHER_URL...
// The windows speak the language the options name ("Language" in Velmora.ini).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "app/desktop/desktop_app.h"
#include "core/download_list/checksum_note.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/list_additions.h"
#include "core/paths/app_paths.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/session/failure_words.h"
#include "engine/session/tls_failure.h"
#include "ui/main_window/kestor.h"
#include "ui/preview/media_backend.h"
#include "ui/prompts/clipboard_question.h"
#include "ui/prompts/credentials_prompt.h"
#include "ui/prompts/gui_session_prompts.h"
#include "ui/prompts/new_download_prompt.h"
#include "ui/tray/program_icons.h"
#include "ui/tray/quenby_catcher.h"
#include "ui/zip_preview/extract_window.h"
#include "ui/zip_preview/zip_preview_window.h"
#include "ui/zip_preview/zip_previews.h"

namespace {

// A list with an entry in every state the main window tells apart.
int PrepareList(const QString& folder, const QStringList& urls) {
    DownloadListState list;
    const QString downloads = folder + QStringLiteral("/downloads/");
    auto add = [&](const QString& url) -> DownloadRecord& {
        const QString encoded = EncodeUrl(url);
        const int slot = ChooseFreeSlot(list);
        FillNewRecord(list.DownloadList[slot], ParseUrl(encoded), encoded, 0, QString());
        return list.DownloadList[slot];
    };
    DownloadRecord& paused = add(urls.value(0));
    paused.Paused = FlagTrue;
    paused.FileSize = Currency::fromBytes(734003200);
    paused.BytesDone = Currency::fromBytes(287309824);
    paused.Percent = 39.1f;
    DownloadRecord& queued = add(urls.value(1));
    queued.Queued = 1;
    queued.Priority = 2;
    DownloadRecord& failed = add(urls.value(2));
    // As a 404 left it in an earlier run: the reason is read back from the list.
    MarkFailed(failed, HttpFailureCode(404));
    DownloadRecord& scheduled = add(urls.value(3));
    scheduled.Scheduled = 1;
    scheduled.Priority = 0;
    // A real archive on the local server, paused before its first byte: its preview reads it.
    const int archiveSlot = ChooseFreeSlot(list);
    DownloadRecord& archive = add(urls.value(4));
    archive.Paused = FlagTrue;
    archive.RangesSupported = FlagTrue;
    archive.FileSize = Currency::fromBytes(qEnvironmentVariableIntValue("BRENLOFT_SHOTS_ZIP_SIZE"));
    for (const char* name : {"release-notes.pdf", "photos-2026.zip"}) {
        const QString path = downloads + QLatin1String(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(123456, 'x'));
        DownloadRecord& done = add(QStringLiteral("http://127.0.0.1/files/") + QLatin1String(name));
        done.Completed = FlagTrue;
        done.Percent = 100;
        done.FileSize = Currency::fromBytes(123456);
        done.SavePath = path;
        // One file checked against its server's sums, the other failing a given checksum.
        ChecksumNote note;
        note.expected = {DigestKind::Sha256, QString(64, u'a')};
        note.source = QStringLiteral("SHA256SUMS");
        note.outcome = ChecksumNote::Outcome::Matches;
        note.actual = note.sha256 = note.expected.hex;
        if (name[0] == 'p') {
            note.source = ChecksumNote::Given;
            note.outcome = ChecksumNote::Outcome::Failed;
            note.actual = note.sha256 = QString(64, u'b');
        }
        KeepChecksumNote(done, note);
    }
    // A finished video, for a frame in the preview panel.
    const QString video = downloads + QStringLiteral("trailer.avi");
    QFile::copy(qEnvironmentVariable("BRENLOFT_SHOTS_VIDEO"), video);
    DownloadRecord& trailer = add(QStringLiteral("http://127.0.0.1/files/trailer.avi"));
    trailer.Completed = FlagTrue;
    trailer.Percent = 100;
    trailer.FileSize = Currency::fromBytes(QFileInfo(video).size());
    trailer.SavePath = video;
    SaveList(list, QDir(folder).filePath(QLatin1String(ListFileName)));
    return archiveSlot;
}

void Grab(QWidget* window, const QString& path, int margin) {
    window->raise();
    const QRect frame = window->frameGeometry().adjusted(-margin, -margin, margin, margin);
    QScreen* screen = window->screen();
    // The root window's picture of the frame: decorations drawn by the window manager too.
    const QPixmap picture =
        screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    picture.save(path);
}

// The program icon and the speed meter at the sizes a tray and a window use, on a light and
// a dark panel.
void DrawIcons(const QString& path) {
    const qreal scale = qApp->devicePixelRatio();
    const QList<int> sizes = {16, 22, 24, 32, 48};
    const int cell = 56;
    QImage sheet(QSize(cell * 5, cell * sizes.size() * 2) * scale, QImage::Format_ARGB32);
    sheet.setDevicePixelRatio(scale);
    QPainter painter(&sheet);
    for (int panel = 0; panel < 2; ++panel) {
        const QRect area(0, panel * cell * sizes.size(), cell * 5, cell * sizes.size());
        painter.fillRect(area, panel == 0 ? QColor(0xf6, 0xf5, 0xf4) : QColor(0x24, 0x24, 0x24));
        for (int row = 0; row < sizes.size(); ++row) {
            for (int level = 0; level <= 4; ++level) {
                const int side = sizes[row];
                const QRect at(level * cell + (cell - side) / 2,
                               area.top() + row * cell + (cell - side) / 2, side, side);
                SpeedIcon(level).paint(&painter, at);
            }
        }
    }
    painter.end();
    sheet.save(path);
}

QWidget* TopLevel(const char* name) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == QLatin1String(name)) {
            return window;
        }
    }
    return nullptr;
}

// The tray icon where the notification area docked it, with a little of the area around it.
void GrabTray(const QString& path) {
    auto* catcher = qobject_cast<QuenbyCatcher*>(TopLevel("QuenbyCatcher"));
    const QRect icon = catcher != nullptr ? catcher->trayIcon()->geometry() : QRect();
    if (icon.isEmpty()) {
        qWarning("brenloft-screenshots: the tray icon is not docked");
        return;
    }
    qInfo("brenloft-screenshots: tray level %d, tip \"%s\"", catcher->level(),
          qUtf8Printable(catcher->trayIcon()->toolTip()));
    const QRect area = icon.adjusted(-icon.width(), -4, 4, 4);
    QApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(path);
}

}  // namespace

int main(int argc, char** argv) {
    UseGStreamerMedia();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QApplication::arguments();
    if (args.size() < 3) {
        qCritical("usage: brenloft-screenshots OUTDIR DOWNLOAD_URL OTHER_URL...");
        return 2;
    }
    const QString out = args[1];
    QDir().mkpath(out);
    const QString folder = ApplicationFolder();
    CreateApplicationFolders(folder);
    const int archiveSlot = PrepareList(folder, args.mid(3));

    DesktopApp desktop;
    if (!desktop.StartUp({args[0], args[2]})) {
        return 1;
    }
    TextTable texts;
    LoadLanguage(texts, QStringLiteral("english"), LanguageFolders(folder));
    {
        SettingsStore store;
        Settings settings;
        LoadSettings(settings, store, folder);
        LoadLanguage(texts, settings.Language, LanguageFolders(folder));
    }

    // One window at a time on an empty screen, each given a moment to be mapped and drawn.
    auto* form1 = new NewDownloadPrompt(texts);
    form1->setUrl(QStringLiteral("http://127.0.0.1/files/debian-12.iso"));
    // Pasted lines, one of them not an address: the prompt says which and why.
    auto* form1Lines = new NewDownloadPrompt(texts);
    form1Lines->setAddNow([](const NewDownloadAnswer&) {});
    form1Lines->setUrl(QStringLiteral("http://127.0.0.1/files/debian-12.iso\nhtp://127.0.0.1/"
                                      "files/typo.iso\nhttp://127.0.0.1/") +
                       QStringLiteral("very-long-name-").repeated(12) + QStringLiteral("x"));
    auto* wantDown = new ClipboardQuestion(texts);
    wantDown->setUrl(QStringLiteral("http://127.0.0.1/files/photos-2026.zip"));
    auto* wantDownMany = new ClipboardQuestion(texts);
    QStringList copied;
    for (int i = 1; i <= 12; ++i) {
        copied << QStringLiteral("http://127.0.0.1/files/photos-2026-part%1.zip").arg(i);
    }
    wantDownMany->setUrls(copied);
    auto* authen = new CredentialsPrompt(texts);
    authen->SetInfo(QStringLiteral("http://127.0.0.1/private/report.pdf"), QString(), QString());
    auto* extract = new Extract(texts, QDir::homePath());
    struct Shot {
        std::function<QWidget*()> window;
        QString name;
        int margin = 0;  // of the screen around the window, for the smallest ones
    };
    auto runningDownloadWindow = []() -> QWidget* {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            // The one still downloading, not a finished one that stays open.
            if (window->objectName() == QLatin1String("Kestor2") && window->isVisible() &&
                !window->windowTitle().startsWith(QLatin1String("100"))) {
                return window;
            }
        }
        return nullptr;
    };
    // A download window whose file is whole, with the buttons that open and show it.
    auto finishedDownloadWindow = []() -> QWidget* {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QLatin1String("Kestor2") &&
                window->windowTitle().startsWith(QLatin1String("100"))) {
                return window;
            }
        }
        return nullptr;
    };
    // The finished list's menu, over its first entry.
    auto finishedMenu = [&desktop]() -> QWidget* {
        QTreeView* list = desktop.mainWindow()->listView2();
        list->setCurrentIndex(list->model()->index(0, 0));
        auto* menu = desktop.mainWindow()->findChild<QMenu*>(QStringLiteral("pop2"));
        if (menu != nullptr) {
            menu->popup(QPoint(40, 40));
        }
        return menu;
    };
    // The question a certificate that does not verify brings, with a real fingerprint's length.
    GuiSessionPrompts sessionPrompts(texts);
    auto trustQuestion = [&] {
        const QString host = QStringLiteral("files.example.org");
        const QString why = texts.text(830).arg(
            host, TlsFailureWords(texts, {TlsFailure::Reason::SelfSigned, {}}, host));
        sessionPrompts.askYesNo(
            TlsTrustQuestion(texts, why, host, QByteArray(32, '\x5a')), [](bool) {},
            SessionPrompts::Preferred::No);
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(window) != nullptr && window->isVisible()) {
                return window;
            }
        }
        return static_cast<QWidget*>(nullptr);
    };
    // A page of the options window, opened as the main window's Options button opens it.
    auto optionsPage = [&desktop](int page) {
        return [&desktop, page]() -> QWidget* {
            if (TopLevel("options") == nullptr) {
                desktop.mainWindow()->Command1_Click(Kestor::Options);
            }
            QWidget* options = TopLevel("options");
            if (auto* tabs = options != nullptr
                                 ? options->findChild<QTabWidget*>(QStringLiteral("TabStrip1"))
                                 : nullptr) {
                tabs->setCurrentIndex(page);
            }
            return options;
        };
    };
    auto shots = std::make_shared<std::vector<Shot>>(std::vector<Shot>{
        {[&desktop, folder] {
             // The finished video's first frame in the preview panel.
             desktop.mainWindow()->LoadMedia(folder + QStringLiteral("/downloads/trailer.avi"),
                                             QString());
             return static_cast<QWidget*>(desktop.mainWindow());
         },
         QStringLiteral("main-window")},
        {runningDownloadWindow, QStringLiteral("download-window")},
        {finishedDownloadWindow, QStringLiteral("download-window-finished")},
        {finishedMenu, QStringLiteral("finished-menu"), 24},
        {[form1] { return static_cast<QWidget*>(form1); }, QStringLiteral("form1")},
        {[form1Lines] {
             form1Lines->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
             return static_cast<QWidget*>(form1Lines);
         },
         QStringLiteral("form1-lines")},
        {[wantDown] { return static_cast<QWidget*>(wantDown); }, QStringLiteral("wantdown")},
        {[wantDownMany] { return static_cast<QWidget*>(wantDownMany); },
         QStringLiteral("wantdown-many")},
        {[authen] { return static_cast<QWidget*>(authen); }, QStringLiteral("authen")},
        {trustQuestion, QStringLiteral("trust-certificate")},
        {[&desktop] {
             desktop.mainWindow()->basketAction()->setChecked(true);
             return TopLevel("DownloadBasket");
         },
         QStringLiteral("basket"), 24},
        {[] {
             auto* catcher = qobject_cast<QuenbyCatcher*>(TopLevel("QuenbyCatcher"));
             if (catcher == nullptr) {
                 return static_cast<QWidget*>(nullptr);
             }
             catcher->showMenu(QPoint(40, 40), true);
             return static_cast<QWidget*>(catcher->pop());
         },
         QStringLiteral("tray-menu")},
        {[&desktop, archiveSlot] {
             desktop.zipPreviews()->open(archiveSlot);
             return static_cast<QWidget*>(desktop.zipPreviews()->window(archiveSlot));
         },
         QStringLiteral("zip-preview")},
        {[extract] { return static_cast<QWidget*>(extract); }, QStringLiteral("extract")},
        {optionsPage(0), QStringLiteral("options-1-general")},
        {optionsPage(1), QStringLiteral("options-2-connection")},
        {optionsPage(2), QStringLiteral("options-3-scheduling")},
        {optionsPage(3), QStringLiteral("options-4-proxy")},
        {optionsPage(4), QStringLiteral("options-5-language")},
        {optionsPage(5), QStringLiteral("options-6-integration")},
        {[optionsPage] {
             // Turned on, as a user sets it up: a secret made, every control in use.
             QWidget* options = optionsPage(6)();
             auto* on = options != nullptr
                            ? options->findChild<QCheckBox*>(QStringLiteral("CheckRemote"))
                            : nullptr;
             if (on != nullptr && !on->isChecked()) {
                 on->click();
             }
             return options;
         },
         QStringLiteral("options-7-remote-control")},
        {[optionsPage] {
             // Sorting on, so that the extension lists show as they are used.
             QWidget* options = optionsPage(7)();
             auto* on = options != nullptr
                            ? options->findChild<QCheckBox*>(QStringLiteral("CheckSortByKind"))
                            : nullptr;
             if (on != nullptr && !on->isChecked()) {
                 on->click();
             }
             return options;
         },
         QStringLiteral("options-8-desktop")},
    });
    auto next = std::make_shared<std::function<void(std::size_t)>>();
    *next = [&, shots, next](std::size_t i) {
        if (i == shots->size()) {
            delete form1;
            delete wantDown;
            delete authen;
            delete extract;
            desktop.QuitProgram();
            return;
        }
        QWidget* target = (*shots)[i].window();
        // Everything else leaves the screen; the download windows stay alive, only unseen.
        QList<QWidget*> away;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window != target && window->isVisible() && window->isWindow()) {
                window->move(4000, 4000);
                away << window;
            }
        }
        if (target == nullptr) {
            (*next)(i + 1);
            return;
        }
        if (target == desktop.mainWindow()) {
            target->resize(1000, 560);
        }
        target->move(40, 40);
        target->show();
        target->raise();
        // The main window's preview loads a video first: its frame takes longer.
        const int settle = target == desktop.mainWindow() ? 2500 : 800;
        QTimer::singleShot(settle, &app, [&, target, away, i, shots, next] {
            Grab(target, out + u'/' + (*shots)[i].name + QStringLiteral(".png"),
                 (*shots)[i].margin);
            for (QWidget* window : away) {
                window->move(600, 300);
            }
            if (target != desktop.mainWindow() &&
                target->objectName() != QLatin1String("Kestor2")) {
                target->hide();
            } else {
                target->move(4000, 4000);
            }
            (*next)(i + 1);
        });
    };
    DrawIcons(out + QStringLiteral("/icons.png"));
    QTimer::singleShot(6000, &app, [next, out] {
        GrabTray(out + QStringLiteral("/tray.png"));
        (*next)(0);
    });
    return app.exec();
}
