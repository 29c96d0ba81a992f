// The options window inside the running program, against a local nginx: OK with a new
// language recaptions every open window (main window, download window, tray window), a
// speed limit switched on slows a download that was already running, and the remote control
// turned on answers its clients.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTcpServer>
#include <memory>

#include "app/desktop/desktop_remote_control.h"
#include "app/desktop/options_wiring.h"
#include "core/download_list/list_additions.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/queue/download_queue.h"
#include "engine/session/failure_words.h"
#include "net/winsock_errors.h"
#include "tests/rpc/rpc_test_client.h"
#include "tests/support/engine_rig.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/test_files.h"
#include "ui/download_window/download_windows.h"
#include "ui/language/apply_language.h"
#include "ui/language/qt_translation.h"
#include "ui/main_window/kestor.h"
#include "ui/options/options_window.h"
#include "ui/prompts/clipboard_question.h"
#include "ui/prompts/credentials_prompt.h"
#include "ui/prompts/gui_session_prompts.h"
#include "ui/prompts/new_download_prompt.h"
#include "ui/tray/quenby_catcher.h"
#include "ui/zip_preview/extract_window.h"
#include "ui/zip_preview/zip_preview_window.h"

using namespace std::chrono_literals;

namespace {

constexpr qsizetype FileSize = 48 * 1024 * 1024;
// Per connection; four segments fetch about 4 MiB/s together.
constexpr std::int64_t Rate = 1024 * 1024;

struct OptionsWiringTest : ::testing::Test, EngineRig {
    Sandbox www;
    std::unique_ptr<NginxPeer> nginx;
    DownloadWindows windows{list, texts, [](const QString&) {}};
    std::unique_ptr<DownloadQueue> queue;
    QtTranslation qtTexts;
    std::unique_ptr<OptionsWiring> wiring;
    QStringList messages;

    void SetUp() override {
        ASSERT_TRUE(WriteFile(www.file(QStringLiteral("big.bin")), RandomBytes(FileSize)));
        nginx = std::make_unique<NginxPeer>(www.path());
        nginx->addRateLimitedLocation(QStringLiteral("/slow/"), Rate);
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
        settings.MaxSegments = 4;
        settings.ShowDownloadWindows = FlagTrue;
        queue = std::make_unique<DownloadQueue>(ctx, windows);
        BrowserIntegration::Setup browsers;
        browsers.places = {file(QStringLiteral("home")), file(QStringLiteral("config")), {}};
        browsers.start = [](const QString&, const QStringList&) { return false; };
        wiring = std::make_unique<OptionsWiring>(
            OptionsWiring::Parts{settings,
                                 store,
                                 texts,
                                 qtTexts,
                                 sockets,
                                 *queue,
                                 {SourcePath(QStringLiteral("data/lang"))},
                                 root()},
            browsers, AutoStartEntry(QStringLiteral("/bin/true"), file(QStringLiteral("config"))));
    }
    void TearDown() override {
        wiring.reset();
        queue.reset();
    }

    // A download of the big file, started as adding one starts it.
    DownloadRecord& start() {
        const QString url = EncodeUrl(nginx->url(QStringLiteral("/slow/big.bin")));
        const int slot = ChooseFreeSlot(list);
        FillNewRecord(list.DownloadList[slot], ParseUrl(url), url, 0, QString());
        queue->StartNew(slot);
        DownloadRecord& r = list.DownloadList[slot];
        EXPECT_TRUE(WaitFor([&] { return r.SegmentCount == 4 && ctx.receivedBytes > 0; }, 30s));
        return r;
    }
    // The options window as the main window's command opens it, answering its messages here.
    Options& open() {
        wiring->open();
        Options* window = wiring->window();
        EXPECT_NE(window, nullptr);
        window->setMessage([this](const QString& text, QMessageBox::Icon) { messages << text; });
        return *window;
    }
    // Bytes received over about `span`, per second.
    double rate(std::chrono::milliseconds span) {
        const std::int64_t before = ctx.receivedBytes;
        QElapsedTimer clock;
        clock.start();
        WaitFor([] { return false; }, span);
        return double(ctx.receivedBytes - before) * 1000.0 /
               double(qMax<qint64>(clock.elapsed(), 1));
    }
};

// Every tagged caption of the window that names a text, as the table has it now: how many
// there are, and those that differ.
QStringList WrongCaptions(QWidget* window, const TextTable& texts, int& checked) {
    QStringList wrong;
    auto check = [&](const QObject* o, const QString& shown) {
        const int tag = TagNumber(o->property(TagProperty));
        if (tag > 0 && tag < TextTable::Size && !texts.text(tag).isEmpty()) {
            ++checked;
            if (shown != texts.text(tag)) {
                wrong << o->objectName() + QStringLiteral(": ") + shown;
            }
        }
    };
    for (const QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        check(b, b->text());
    }
    for (const QLabel* l : window->findChildren<QLabel*>()) {
        check(l, l->text());
    }
    for (const QGroupBox* g : window->findChildren<QGroupBox*>()) {
        check(g, g->title());
    }
    for (const QAction* a : window->findChildren<QAction*>()) {
        check(a, a->text());
    }
    return wrong;
}

// The words of a text, lower-cased, mnemonics dropped.
QSet<QString> WordsOf(const QString& text) {
    static const QRegularExpression word(QStringLiteral("[^\\W\\d_]+"));
    QSet<QString> words;
    for (auto it = word.globalMatch(QString(text).remove(u'&')); it.hasNext();) {
        words.insert(it.next().captured().toLower());
    }
    return words;
}

QSet<QString> LanguageWords(const char* name) {
    QFile file(SourcePath(QStringLiteral("data/lang/")) + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QSet<QString> words;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (!line.startsWith(QLatin1String("//"))) {
            words += WordsOf(line.mid(line.indexOf(u'=') + 1));
        }
    }
    return words;
}

// Every text a window shows: its title, captions, tooltips, tabs, column titles, the names of
// shortcut keys and the calendar of date editors.
QStringList Shown(QWidget* window) {
    QStringList shown{window->windowTitle()};
    for (QDateTimeEdit* d : window->findChildren<QDateTimeEdit*>()) {
        if (d->calendarPopup()) {
            shown += Shown(d->calendarWidget());
        }
    }
    for (const QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        shown << b->text() << b->toolTip();
    }
    for (const QLabel* l : window->findChildren<QLabel*>()) {
        shown << l->text();
    }
    for (const QGroupBox* g : window->findChildren<QGroupBox*>()) {
        shown << g->title();
    }
    for (const QAction* a : window->findChildren<QAction*>()) {
        shown << a->text() << a->toolTip() << a->shortcut().toString(QKeySequence::NativeText);
    }
    for (const QMenu* m : window->findChildren<QMenu*>()) {
        shown << m->title();
    }
    for (const QTabWidget* t : window->findChildren<QTabWidget*>()) {
        for (int i = 0; i < t->count(); ++i) {
            shown << t->tabText(i);
        }
    }
    for (const QAbstractItemView* v : window->findChildren<QAbstractItemView*>()) {
        for (int c = 0; v->model() != nullptr && c < v->model()->columnCount(); ++c) {
            shown << v->model()->headerData(c, Qt::Horizontal).toString();
        }
    }
    return shown;
}

}  // namespace

TEST_F(OptionsWiringTest, TheProgramSwitchedToFrenchShowsNoEnglish) {
    // Words only the English texts and Qt's English have.
    QSet<QString> english = LanguageWords("english.txt") - LanguageWords("francais.txt");
    english += {QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("cancel"),
                QStringLiteral("del")};
    for (int month = 1; month <= 12; ++month) {
        english += QLocale(QLocale::English).standaloneMonthName(month).toLower();
    }
    TextTable englishTexts = texts;
    Kestor kestor(ctx, *queue, store, [](const QString&) {});
    QuenbyCatcher catcher(texts);
    wiring->addWindows([&] { return QList<QWidget*>{&kestor, &catcher} + windows.openWindows(); });
    start();
    open()
        .findChild<QComboBox*>(QStringLiteral("Combo1"))
        ->setCurrentText(QStringLiteral("Français"));
    ASSERT_TRUE(wiring->window()->OK_Click());
    ASSERT_TRUE(WaitFor([&] { return wiring->window() == nullptr; }));

    GuiSessionPrompts prompts(texts);
    prompts.askYesNo(
        texts.text(403), [](bool) {}, SessionPrompts::Preferred::No);
    NewDownloadPrompt add(texts);
    ClipboardQuestion clipboard(texts);
    CredentialsPrompt login(texts);
    Extract extract(texts, root());
    Form2 archive(sockets, settings, texts);
    QList<QWidget*> walked{&kestor,    &catcher, &open(),  &add,
                           &clipboard, &login,   &extract, &archive};
    walked += windows.openWindows();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(window) != nullptr) {
            walked << window;
        }
    }
    QStringList found;
    for (QWidget* window : walked) {
        for (const QString& text : Shown(window)) {
            if (WordsOf(text).intersects(english)) {
                found << window->objectName() + QStringLiteral(": ") + text;
            }
        }
    }
    // The engine's reasons, worded with their values, and every socket error.
    QStringList reasons;
    for (int n = 1000; n < 1020; ++n) {
        reasons << englishTexts.text(n).arg(QStringLiteral("x"), QStringLiteral("y"),
                                            QStringLiteral("z"));
    }
    for (std::int32_t error : {10013, 10022, 10024, 10054, 10055, 10061, 10099, 20001, 20002}) {
        reasons << SocketErrorText(error);
    }
    for (const QString& reason : reasons) {
        if (WordsOf(FailureReason(reason, texts)).intersects(english)) {
            found << FailureReason(reason, texts);
        }
    }
    EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
    EXPECT_EQ(walked.size(), 10);
}

TEST_F(OptionsWiringTest, ANewLanguageRecaptionsEveryOpenWindow) {
    Kestor kestor(ctx, *queue, store, [](const QString&) {});
    QuenbyCatcher catcher(texts);
    wiring->addWindows([&] { return QList<QWidget*>{&kestor, &catcher}; });
    wiring->addWindows([&] { return windows.openWindows(); });
    QObject::connect(&kestor, &Kestor::optionsRequested, wiring.get(), &OptionsWiring::open);
    start();
    ASSERT_EQ(windows.openWindows().size(), 1);
    QWidget* download = windows.openWindows().first();
    const QString englishPause = catcher.findChild<QAction*>(QStringLiteral("pauseall"))->text();

    // The main window's Options button opens the window.
    kestor.findChild<QAbstractButton*>(QStringLiteral("Command1_2"))->click();
    Options& options = *wiring->window();
    options.setMessage([this](const QString& text, QMessageBox::Icon) { messages << text; });
    EXPECT_TRUE(options.isVisible());
    options.findChild<QComboBox*>(QStringLiteral("Combo1"))
        ->setCurrentText(QStringLiteral("Français"));
    ASSERT_TRUE(options.OK_Click());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    ASSERT_EQ(texts.text(701), QStringLiteral("&Suspendre tous les téléchargements"));

    for (QWidget* window :
         {static_cast<QWidget*>(&kestor), static_cast<QWidget*>(&catcher), download}) {
        SCOPED_TRACE(window->objectName().toStdString());
        int checked = 0;
        EXPECT_EQ(WrongCaptions(window, texts, checked), QStringList{});
        EXPECT_GT(checked, 0);
    }
    EXPECT_NE(catcher.findChild<QAction*>(QStringLiteral("pauseall"))->text(), englishPause);
    EXPECT_EQ(kestor.findChild<QAbstractButton*>(QStringLiteral("Command1_0"))->text(),
              texts.text(100));
    // Closed by OK; the next Options opens a new one.
    EXPECT_TRUE(WaitFor([&] { return wiring->window() == nullptr; }));
}

TEST_F(OptionsWiringTest, TheSpeedLimitSlowsADownloadAlreadyRunning) {
    start();
    const double unlimited = rate(1500ms);
    ASSERT_GT(unlimited, 0);

    Options& options = open();
    options.findChild<QAbstractButton*>(QStringLiteral("Check11"))->click();
    options.findChild<QLineEdit*>(QStringLiteral("Text11"))->setText(QStringLiteral("64"));
    ASSERT_TRUE(options.OK_Click());
    EXPECT_EQ(settings.SpeedLimiter, 64 * 1024);
    // What the sockets had buffered comes first; then the limit holds.
    rate(500ms);
    const double limited = rate(1500ms);
    EXPECT_LT(limited * 4, unlimited) << "limited " << limited << " B/s, before " << unlimited;

    // Off again: the download speeds up within the same run.
    Options& again = open();
    again.findChild<QAbstractButton*>(QStringLiteral("Check11"))->click();
    ASSERT_TRUE(again.OK_Click());
    const double freed = rate(1500ms);
    EXPECT_GT(freed, limited * 4) << "freed " << freed << " B/s, limited " << limited;
}

TEST_F(OptionsWiringTest, TheRemoteControlTurnedOnAnswersWithTheKeptSecretAndQuits) {
    QStringList told;
    bool quit = false;
    DesktopRemoteControl remote(
        {ctx, *queue, store, [&](const QString& t) { told << t; }, [] {}, [&] { quit = true; }});
    QObject::connect(wiring.get(), &OptionsWiring::applied, &remote, &DesktopRemoteControl::apply);
    auto freePort = [] {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : quint16(0);
    };
    const quint16 port = freePort();

    Options& options = open();
    options.findChild<QAbstractButton*>(QStringLiteral("CheckRemote"))->click();
    const QString token = QStringLiteral("token:") +
                          options.findChild<QLineEdit*>(QStringLiteral("TextRemoteSecret"))->text();
    ASSERT_EQ(token.size(), 6 + 32) << "a secret made as it was turned on";
    options.findChild<QLineEdit*>(QStringLiteral("TextRemotePort"))->setText(QString::number(port));
    ASSERT_TRUE(options.OK_Click());
    EXPECT_EQ(told, QStringList{});

    auto call = [](quint16 port, const QString& secret, const char* method,
                   const QJsonObject& options = {}) -> const QJsonObject {
        QJsonArray params{secret};
        if (!options.isEmpty()) {
            params.append(options);
        }
        const QJsonObject request{
            {"jsonrpc", "2.0"}, {"id", "t"}, {"method", QLatin1String(method)}, {"params", params}};
        const QList<HttpReply> replies =
            AskHttp(port, Post(QJsonDocument(request).toJson(QJsonDocument::Compact)));
        return replies.isEmpty() ? QJsonObject{}
                                 : QJsonDocument::fromJson(replies[0].body).object();
    };
    EXPECT_TRUE(call(port, token, "aria2.getVersion")["result"].toObject().contains("version"));
    EXPECT_EQ(
        call(port, QStringLiteral("token:wrong"), "aria2.getVersion")["error"]["code"].toInt(), 1);
    const SettingsStore saved(store.path());
    EXPECT_EQ(saved.read(QStringLiteral("Options"), QStringLiteral("RemoteControlSecret")),
              token.mid(6));
    // A client's change of the options is kept as the window's OK keeps one.
    EXPECT_EQ(call(port, token, "aria2.changeGlobalOption",
                   {{"max-concurrent-downloads", "7"}})["result"],
              QStringLiteral("OK"));
    EXPECT_EQ(SettingsStore(store.path())
                  .read(QStringLiteral("Options"), QStringLiteral("MaxSimulDownlads")),
              QStringLiteral("7"));

    // Another port: made again there, with the same secret.
    const quint16 other = freePort();
    open().findChild<QLineEdit*>(QStringLiteral("TextRemotePort"))->setText(QString::number(other));
    ASSERT_TRUE(wiring->window()->OK_Click());
    EXPECT_EQ(call(other, token, "aria2.shutdown")["result"].toString(), QStringLiteral("OK"));
    EXPECT_TRUE(WaitFor([&] { return quit; }));
}
