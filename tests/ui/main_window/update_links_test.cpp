// The main window's two links against real servers: the update check's captions and question,
// and an accepted update fetched, checked, unpacked and handed to a stand-in updater.
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

#include "core/download_list/entry_state.h"
#include "core/download_list/list_file_format.h"
#include "engine/session/failure_words.h"
#include "net/winsock_errors.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/nginx_peer.h"
#include "tests/ui/main_window/main_window_fixture.h"
#include "tests/update/update_test_tools.h"
#include "ui/language/apply_language.h"
#include "update/update_check.h"
#include "update/update_installer.h"

namespace main_window_test {
namespace {

class UpdateLinksTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("site/velmora"))));
        nginx = std::make_unique<NginxPeer>(file(QStringLiteral("site")));
        nginx->logRequests();
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
    }

    void serveVersion(const QByteArray& text) {
        ASSERT_TRUE(WriteFile(file(QStringLiteral("site/velmora/version.txt")), text));
    }

    // A new window (a new run of the program) that asks `server`.
    Kestor& openAsking(const QString& server) {
        Kestor& w = open();
        w.setUpdateServer(ParseUpdateServer(server));
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
        return w;
    }

    QLabel* link(const char* name) const { return window->findChild<QLabel*>(QLatin1String(name)); }
    QString caption7() const { return link("Label7")->text(); }
    void click(const char* name) { QTest::mouseClick(link(name), Qt::LeftButton); }
    void hover(QWidget* widget) {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(widget, &enter);
    }

    int requestsFor(const QString& path) const {
        int count = 0;
        for (const QString& line : nginx->accessLog()) {
            count += line.contains(QStringLiteral("GET ") + path + u' ') ? 1 : 0;
        }
        return count;
    }

    std::unique_ptr<NginxPeer> nginx;
};

TEST_F(UpdateLinksTest, LinksLightUpAndTellWhatTheyDo) {
    Kestor& w = openAsking(nginx->url(QString()));
    QLabel* label2 = link("Label2");
    QLabel* label7 = link("Label7");
    ASSERT_NE(label2, nullptr);
    ASSERT_NE(label7, nullptr);
    EXPECT_EQ(label7->text(), texts.text(270));
    EXPECT_EQ(label2->text(), texts.text(271));
    EXPECT_EQ(label2->palette().color(QPalette::WindowText), QColor(0, 0, 255));

    hover(label2);
    EXPECT_EQ(w.statusText(1), texts.text(664));
    EXPECT_EQ(label2->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_TRUE(label2->font().underline());
    hover(label7);
    EXPECT_EQ(w.statusText(1), texts.text(665));
    EXPECT_TRUE(label7->font().underline());

    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(w.centralWidget(), &move);
    EXPECT_EQ(w.statusText(1), QStringLiteral("Brenloft  v.1"));
    for (QLabel* label : {label2, label7}) {
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_FALSE(label->font().underline());
    }

    click("Label2");
    EXPECT_EQ(browsed, QStringList{nginx->url(QStringLiteral("/velmora/"))});
}

TEST_F(UpdateLinksTest, NoNewerVersionFetchesNothing) {
    for (const QByteArray& version : {QByteArray("1"), QByteArray("0.9\r\nAn older one.")}) {
        SCOPED_TRACE(version.toStdString());
        serveVersion(version);
        const int before = requestsFor(QStringLiteral("/velmora/version.txt"));
        Kestor& w = openAsking(nginx->url(QString()));
        click("Label7");
        EXPECT_EQ(caption7(), texts.text(685));
        EXPECT_EQ(link("Label7")->property(TagProperty).toString(), QStringLiteral("CONN"));
        ASSERT_TRUE(WaitFor([&] { return caption7() == texts.text(684); }));
        EXPECT_TRUE(questions.isEmpty());

        // Once per run: a second click asks nothing, hovering tells nothing.
        click("Label7");
        EXPECT_EQ(caption7(), texts.text(684));
        w.Status(QString());
        hover(link("Label7"));
        EXPECT_EQ(w.statusText(1), QString());
        // A language change leaves the answer in place.
        ApplyLanguage(&w, texts);
        EXPECT_EQ(caption7(), texts.text(684));

        ASSERT_TRUE(WaitFor(
            [&] { return requestsFor(QStringLiteral("/velmora/version.txt")) == before + 1; }));
    }
    for (const QString& line : nginx->accessLog()) {
        EXPECT_FALSE(line.contains(u"kestor")) << line.toStdString();
    }
    EXPECT_EQ(UsedSlots(list), 0);
}

TEST_F(UpdateLinksTest, ANewerVersionShowsItsNotesAndNoAddsNothing) {
    serveVersion("1.5\r\nFaster joins.\r\n<b>Fewer</b> crashes.");
    openAsking(nginx->url(QString()));
    answers = {false};
    click("Label7");
    ASSERT_TRUE(WaitFor([&] { return !questions.isEmpty(); }));
    EXPECT_EQ(questions, QStringList{texts.text(683) +
                                     QStringLiteral("\n\nFaster joins.\n<b>Fewer</b> crashes.")});
    EXPECT_EQ(titles, QStringList{QStringLiteral("Brenloft")});
    EXPECT_EQ(caption7(), texts.text(682));
    EXPECT_EQ(UsedSlots(list), 0);
    EXPECT_EQ(requestsFor(QStringLiteral("/velmora/kestor15.zip")), 0);
}

TEST_F(UpdateLinksTest, AFailedCheckSaysWhyAndAClickAsksAgain) {
    ASSERT_TRUE(WriteFile(file(QStringLiteral("site/velmora/version.txt")), "1.5"));
    struct Row {
        const char* mode;  // of the fault server; "refused": one that has gone
        QString caption;
    } const rows[] = {
        {"not-found-page", texts.text(1200).arg(404)},
        {"server-error-page", texts.text(1200).arg(500)},
        {"silent", texts.text(1201)},
        {"refused", texts.text(1202).arg(FailureReason(SocketErrorText(10061), texts))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        HttpFaultServer server(file(QStringLiteral("site/velmora")));
        const bool refused = QLatin1String(row.mode) == QLatin1String("refused");
        server.setMode(refused ? QStringLiteral("plain") : QLatin1String(row.mode));
        ASSERT_TRUE(server.start(file(QStringLiteral("faults.log"))))
            << server.error().toStdString();
        if (refused) {
            server.stop();
        }
        Kestor& w = openAsking(server.url(QString()));
        w.setUpdateTimeLimit(std::chrono::milliseconds(300));
        for (int attempt = 0; attempt < 2; ++attempt) {
            click("Label7");
            EXPECT_EQ(caption7(), texts.text(685));
            ASSERT_TRUE(WaitFor([&] { return caption7() == row.caption; }));
        }
        EXPECT_TRUE(questions.isEmpty());
    }
}

TEST_F(UpdateLinksTest, YesDownloadsChecksUnpacksStartsTheUpdaterAndQuits) {
    const SigningKey maker = MakeSigningKey(root(), QStringLiteral("maker"));
    ASSERT_FALSE(maker.publicPem.isEmpty());
    const QString served = file(QStringLiteral("site/velmora/kestor15.zip"));
    ASSERT_TRUE(MakePackage(served, QStringLiteral("good")));
    ASSERT_TRUE(SignFile(maker, served, served + QStringLiteral(".sig")));
    serveVersion("1.5\r\nSigned.");
    const QString marker = file(QStringLiteral("updater-ran"));
    const QString updater = file(QStringLiteral("bin/updater"));
    ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("bin"))));
    ASSERT_TRUE(WriteStubProgram(updater, marker));

    // Wired as the desktop program wires it, with the test's key.
    int quits = 0;
    QStringList told;
    UpdateInstaller::Parts parts;
    parts.publicKey = maker.publicPem;
    parts.updaterProgram = updater;
    parts.unpackFolder = temp() + QStringLiteral("update");
    parts.program = file(QStringLiteral("bin/Brenloft"));
    parts.language = QStringLiteral("english");
    parts.pid = 4242;
    parts.tell = [&](const QString& text) { told << text; };
    parts.quit = [&] {
        EXPECT_TRUE(SaveList(list, listPath()).isEmpty());
        ++quits;
    };
    parts.installed = [this](int slot) { queue->RemoveInstalled(slot); };
    UpdateInstaller installer(ctx, std::move(parts));
    ctx.installUpdate = [&](int slot, const QString& path) { installer.Install(slot, path); };
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, [this] { sockets.PumpSockets(); });
    pump.start(100);

    openAsking(nginx->url(QString()));
    answers = {true};
    click("Label7");
    ASSERT_TRUE(WaitFor([&] { return quits > 0 || !told.isEmpty(); }, std::chrono::seconds(60)));
    EXPECT_EQ(told, QStringList());
    EXPECT_EQ(quits, 1);

    ASSERT_EQ(UsedSlots(list), 1);
    const DownloadRecord& r = record(1);
    EXPECT_EQ(r.Url, nginx->url(QStringLiteral("/velmora/kestor15.zip")));
    EXPECT_EQ(r.IsUpdate, 1);
    EXPECT_TRUE(FileComplete(r));
    EXPECT_EQ(StateOf(r), ListEntryState::Free) << "installed: the entry left the list";
    EXPECT_EQ(ReadFile(r.SavePath), ReadFile(served));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(marker); }));
    EXPECT_EQ(MarkerLines(marker), (QStringList{"--from", temp() + QStringLiteral("update"),
                                                "--program", file(QStringLiteral("bin/Brenloft")),
                                                "--wait-pid", "4242", "--language", "english"}));
    EXPECT_TRUE(QFile::exists(temp() + QStringLiteral("update/bin/Brenloft")));
    DownloadListState saved;
    DecodeListFile(ReadFile(listPath()), saved);
    ASSERT_EQ(saved.DownloadCount, 1);
    EXPECT_EQ(StateOf(saved.DownloadList[1]), ListEntryState::Free);
    EXPECT_GE(requestsFor(QStringLiteral("/velmora/kestor15.zip.sig")), 1);
    // The end-of-list actions were the install's to run, and it did not need them.
    EXPECT_TRUE(actions.calls.isEmpty()) << actions.calls.join(u' ').toStdString();
    ctx.installUpdate = nullptr;
}

}  // namespace
}  // namespace main_window_test
