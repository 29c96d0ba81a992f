// The commands of the main window against a real list and queue.

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>

#include "core/settings/settings_store.h"
#include "core/text/format.h"
#include "engine/queue/add_download.h"
#include "tests/ui/main_window/main_window_fixture.h"

namespace main_window_test {
namespace {

using U = UnfinishedListModel;

TEST_F(MainWindowTest, DeleteAsksThenRemovesTheEntryAndItsPartFiles) {
    const int running = add(QStringLiteral("running.bin"), Kind::Running);
    const int paused = add(QStringLiteral("paused.bin"), Kind::Paused);
    Kestor& w = open();

    Select(w.listView1(), key(paused));
    answers = {false};
    w.Command1_Click(Kestor::DeleteUrl);
    EXPECT_EQ(questions, QStringList{texts.text(411)});
    EXPECT_EQ(StateOf(record(paused)), ListEntryState::Paused);
    EXPECT_TRUE(AllExist(partFiles(paused)));

    answers = {true};
    w.Command1_Click(Kestor::DeleteUrl);
    EXPECT_EQ(StateOf(record(paused)), ListEntryState::Removed);
    EXPECT_TRUE(NoneExists(partFiles(paused)));
    EXPECT_EQ(Keys(w.listView1()), QStringList{key(running)});

    // A running one loses its session and window first.
    Select(w.listView1(), key(running));
    answers = {true};
    trigger("delete");
    EXPECT_FALSE(queue->hasSession(running));
    EXPECT_TRUE(windows.events.contains(QStringLiteral("close %1").arg(running)));
    EXPECT_EQ(StateOf(record(running)), ListEntryState::Removed);
    EXPECT_EQ(record(running).Running, FlagFalse);
    EXPECT_EQ(record(running).Transferring, FlagFalse);
    EXPECT_TRUE(NoneExists(partFiles(running)));
    EXPECT_TRUE(Keys(w.listView1()).isEmpty());

    // Nothing selected: no question.
    questions.clear();
    w.Command1_Click(Kestor::DeleteUrl);
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(MainWindowTest, PartFilesOutsideTheirNamingAreNeverDeleted) {
    const int paused = add(QStringLiteral("paused.bin"), Kind::Paused);
    const QString precious = file(QStringLiteral("precious.txt"));
    ASSERT_TRUE(WriteFile(precious, "keep"));
    record(paused).Segments.at(1)->PartFile = precious;  // a damaged list
    Kestor& w = open();
    Select(w.listView1(), key(paused));
    answers = {true};
    w.Command1_Click(Kestor::DeleteUrl);
    EXPECT_TRUE(QFile::exists(precious));
    EXPECT_FALSE(QFile::exists(record(paused).Segments.at(2)->PartFile));
}

TEST_F(MainWindowTest, PauseOneAndPauseAll) {
    const int first = add(QStringLiteral("first.bin"), Kind::Running);
    const int second = add(QStringLiteral("second.bin"), Kind::Running);
    const int third = add(QStringLiteral("third.bin"), Kind::Running);
    Kestor& w = open();

    Select(w.listView1(), key(second));
    w.Command1_Click(Kestor::PauseDownload);
    EXPECT_EQ(StateOf(record(second)), ListEntryState::Paused);
    EXPECT_EQ(StateOf(record(first)), ListEntryState::Running);
    EXPECT_EQ(Cell(w.listView1(), key(second), 0, U::IconKeyRole), QStringLiteral("down"));
    EXPECT_EQ(Cell(w.listView1(), key(first), 0, U::IconKeyRole), QStringLiteral("stop"));

    trigger("stopall");
    for (const int slot : {first, second, third}) {
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Paused) << slot;
        EXPECT_EQ(Cell(w.listView1(), key(slot), 0, U::IconKeyRole), QStringLiteral("down"));
    }
    // Pausing keeps the sessions and their windows, ready to resume.
    EXPECT_TRUE(queue->hasSession(first));
    EXPECT_FALSE(windows.events.contains(QStringLiteral("close %1").arg(first)));
}

TEST_F(MainWindowTest, ResumeAllRestartsEveryUnfinishedEntryThatIsNotRunning) {
    settings.MaxSimulDownlads = 2;
    const int running = add(QStringLiteral("running.bin"), Kind::Running);
    const int paused = add(QStringLiteral("paused.bin"), Kind::Paused);
    const int failed = add(QStringLiteral("failed.bin"), Kind::Failed);
    const int finished = add(QStringLiteral("finished.bin"), Kind::Finished);
    Kestor& w = open();
    windows.events.clear();

    trigger("mResumeall");
    // In slot order: the first gets the free place, the next waits in the queue.
    EXPECT_EQ(windows.events, QStringList{QStringLiteral("open %1").arg(paused)});
    EXPECT_EQ(StateOf(record(paused)), ListEntryState::Running);
    EXPECT_EQ(StateOf(record(failed)), ListEntryState::Queued);
    EXPECT_EQ(record(finished).Running, FlagFalse);
    EXPECT_EQ(StateOf(record(running)), ListEntryState::Running);
    QCoreApplication::processEvents();
    EXPECT_EQ(Cell(w.listView1(), key(failed), U::State), QStringLiteral("Queued"));

    // A paused session resumes in place, its window shown again.
    Select(w.listView1(), key(running));
    w.Command1_Click(Kestor::PauseDownload);
    windows.events.clear();
    trigger("ResumeDownload");
    EXPECT_EQ(StateOf(record(running)), ListEntryState::Running);
    EXPECT_EQ(windows.events, QStringList{QStringLiteral("show %1").arg(running)});
}

TEST_F(MainWindowTest, ResetListEmptiesTheListAndKeepsTheLogins) {
    const int first = add(QStringLiteral("first.bin"), Kind::Running);
    const int second = add(QStringLiteral("second.bin"), Kind::Running);
    const int paused = add(QStringLiteral("paused.bin"), Kind::Paused);
    const int finished = add(QStringLiteral("finished.bin"), Kind::Finished);
    list.SiteLoginList.append(
        SiteLogin{QStringLiteral("127.0.0.1"), 0, QStringLiteral("me"), QStringLiteral("4142"), 0});
    list.SiteLoginCount = 1;
    const QStringList parts = partFiles(first) + partFiles(second) + partFiles(paused);
    const QString finishedFile = record(finished).SavePath;
    Kestor& w = open();

    answers = {false};
    w.Command1_Click(Kestor::ResetList);
    EXPECT_EQ(questions, QStringList{texts.text(409)});
    EXPECT_EQ(titles, QStringList{QStringLiteral("Question")});
    EXPECT_EQ(list.DownloadCount, 4);
    EXPECT_TRUE(queue->hasSession(first));

    answers = {true};
    trigger("mResetlist");
    EXPECT_EQ(list.DownloadCount, 0);
    EXPECT_EQ(list.DownloadList.size(), 1);
    EXPECT_FALSE(queue->hasSession(first));
    EXPECT_FALSE(queue->hasSession(second));
    EXPECT_TRUE(windows.events.contains(QStringLiteral("close %1").arg(first)));
    EXPECT_TRUE(windows.events.contains(QStringLiteral("close %1").arg(second)));
    EXPECT_EQ(list.SiteLoginCount, 1);
    EXPECT_EQ(list.SiteLoginList.size(), 2);
    EXPECT_TRUE(NoneExists(parts));
    EXPECT_EQ(ReadFile(finishedFile), QByteArray(100, 'f'));
    EXPECT_TRUE(Keys(w.listView1()).isEmpty());
    EXPECT_TRUE(Keys(w.listView2()).isEmpty());

    // What the queue reports while the sessions wind down finds nothing to draw.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(Keys(w.listView1()).isEmpty());
}

TEST_F(MainWindowTest, ResetOfFinishedEntriesOnlyAsksNothing) {
    add(QStringLiteral("finished.bin"), Kind::Finished);
    Kestor& w = open();
    w.Command1_Click(Kestor::ResetList);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(list.DownloadCount, 0);
}

TEST_F(MainWindowTest, PriorityMenusSetTwoOneZero) {
    const int slot = add(QStringLiteral("a.bin"), Kind::Paused);
    const int other = add(QStringLiteral("b.bin"), Kind::Paused);
    Kestor& w = open();
    Select(w.listView1(), key(slot));
    trigger("PrioHigh");
    EXPECT_EQ(record(slot).Priority, 2);
    trigger("PrioLow");
    EXPECT_EQ(record(slot).Priority, 0);
    trigger("PrioMiddle");
    EXPECT_EQ(record(slot).Priority, 1);
    EXPECT_EQ(record(other).Priority, 1);
    trigger("PrioHigh");
    now += 1000;  // the refresh after a priority change is not forced
    w.RefreshListView(0, false);
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::Priority), texts.text(690));
}

TEST_F(MainWindowTest, ScheduleMarkTogglesAndTwiceLeavesItOff) {
    const int slot = add(QStringLiteral("a.bin"), Kind::Paused);
    const int running = add(QStringLiteral("b.bin"), Kind::Running);
    Kestor& w = open();
    Select(w.listView1(), key(slot));
    trigger("shedulded");
    EXPECT_EQ(StateOf(record(slot)), ListEntryState::Scheduled);
    now += 1000;
    w.RefreshListView(0, false);
    EXPECT_EQ(Cell(w.listView1(), key(slot), 0, U::IconKeyRole), QStringLiteral("shed"));
    trigger("shedulded");
    EXPECT_EQ(StateOf(record(slot)), ListEntryState::Paused);

    // A running download is not marked.
    w.listView1()->clearSelection();
    Select(w.listView1(), key(running));
    w.toggleSchedule();
    EXPECT_FALSE(MarkedForSchedule(record(running)));
}

TEST_F(MainWindowTest, ClearFinishedRemovesTheSelectedRowsOnly) {
    const int a = add(QStringLiteral("a.bin"), Kind::Finished);
    const int b = add(QStringLiteral("b.bin"), Kind::FinishedMissing);
    const int c = add(QStringLiteral("c.bin"), Kind::Finished);
    const int unfinished = add(QStringLiteral("d.bin"), Kind::Paused);
    Kestor& w = open();
    Select(w.listView2(), key(a));
    Select(w.listView2(), key(b));
    trigger("cleardown2");
    for (const int slot : {a, b}) {
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Removed) << slot;
    }
    EXPECT_EQ(StateOf(record(c)), ListEntryState::Finished);
    EXPECT_EQ(StateOf(record(unfinished)), ListEntryState::Paused);
    EXPECT_EQ(Keys(w.listView2()), QStringList{key(c)});
    // The file of a finished download is never touched by taking it off the list.
    EXPECT_EQ(ReadFile(record(a).SavePath), QByteArray(100, 'f'));
}

TEST_F(MainWindowTest, ClearAllAsksFirst) {
    const int a = add(QStringLiteral("a.bin"), Kind::Finished);
    const int b = add(QStringLiteral("b.bin"), Kind::Finished);
    const int unfinished = add(QStringLiteral("c.bin"), Kind::Paused);
    Kestor& w = open();
    answers = {false};
    trigger("clearall");
    EXPECT_EQ(questions, QStringList{texts.text(408)});
    EXPECT_EQ(titles, QStringList{QStringLiteral("Brenloft")});
    EXPECT_EQ(StateOf(record(a)), ListEntryState::Finished);

    answers = {true};
    trigger("clearall");
    for (const int slot : {a, b}) {
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Removed) << slot;
    }
    EXPECT_EQ(StateOf(record(unfinished)), ListEntryState::Paused);
    EXPECT_TRUE(Keys(w.listView2()).isEmpty());
    EXPECT_TRUE(QFile::exists(record(a).SavePath));
}

TEST_F(MainWindowTest, QuitOptionsAndBrowserAskTheOwner) {
    const int slot = add(QStringLiteral("a.bin"), Kind::Paused);
    Kestor& w = open();
    QSignalSpy quit(&w, &Kestor::quitRequested);
    QSignalSpy options(&w, &Kestor::optionsRequested);

    answers = {false};
    trigger("mExit");
    EXPECT_EQ(questions, QStringList{texts.text(410)});
    EXPECT_EQ(quit.count(), 0);
    answers = {true};
    w.Command1_Click(Kestor::Quit);
    EXPECT_EQ(quit.count(), 1);

    trigger("Options");
    trigger("mProperties");
    EXPECT_EQ(options.count(), 2);

    // Nothing selected: no server to open, so nothing opens.
    trigger("Browser");
    EXPECT_TRUE(browsed.isEmpty());
    Select(w.listView1(), key(slot));
    w.Command1_Click(Kestor::Browser);
    EXPECT_EQ(browsed,
              QStringList{QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort())});

    // An empty list quits without a question.
    list.DownloadList.resize(1);
    list.DownloadCount = 0;
    questions.clear();
    w.Command1_Click(Kestor::Quit);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(quit.count(), 2);
}

TEST_F(MainWindowTest, ShowDownloadWindowsIsSavedAtOnce) {
    settings.ShowDownloadWindows = FlagTrue;
    Kestor& w = open();
    QAction* sdw = w.findChild<QAction*>(QStringLiteral("sdw"));
    ASSERT_NE(sdw, nullptr);
    EXPECT_TRUE(sdw->isChecked());
    sdw->trigger();
    EXPECT_EQ(settings.ShowDownloadWindows, FlagFalse);
    EXPECT_FALSE(sdw->isChecked());
    SettingsStore reread(store.path());
    EXPECT_EQ(reread.read(QStringLiteral("Options"), QStringLiteral("ShowDownloadWindows")),
              QStringLiteral("0"));
    sdw->trigger();
    EXPECT_EQ(settings.ShowDownloadWindows, FlagTrue);
    EXPECT_TRUE(sdw->isChecked());
    SettingsStore again(store.path());
    EXPECT_NE(again.read(QStringLiteral("Options"), QStringLiteral("ShowDownloadWindows")),
              QStringLiteral("0"));
}

TEST_F(MainWindowTest, BasketEntryTogglesAndTheBasketButtonOnlyChecksIt) {
    Kestor& w = open();
    QAction* sdb = w.basketAction();
    ASSERT_EQ(w.findChild<QAction*>(QStringLiteral("sdb")), sdb);
    auto* options = w.findChild<QMenu*>(QStringLiteral("mOptions"));
    ASSERT_NE(options, nullptr);
    EXPECT_TRUE(options->actions().contains(sdb));
    EXPECT_EQ(sdb->text(), texts.text(110));
    EXPECT_FALSE(sdb->isChecked());
    auto* command5 = w.findChild<QPushButton*>(QStringLiteral("Command5"));
    ASSERT_NE(command5, nullptr);
    EXPECT_EQ(command5->text(), texts.text(109));

    QSignalSpy toggled(sdb, &QAction::toggled);
    sdb->trigger();
    sdb->trigger();
    EXPECT_FALSE(sdb->isChecked());
    command5->click();
    EXPECT_TRUE(sdb->isChecked());
    command5->click();
    EXPECT_TRUE(sdb->isChecked()) << "the button shows the basket, it never hides it";
    EXPECT_EQ(toggled.count(), 3);
}

// Every part there (the entry only paused): built without a question. A gap in the middle:
// the question says how much arrived before it, and only that much is built. A running one
// loses its session first. None leaves a part file behind.
TEST_F(MainWindowTest, ForceFileBuildingTakesWhatArrivedBeforeTheFirstGap) {
    auto size = [&](int bytes) { return FormatSize(Currency::fromBytes(bytes), texts); };
    const struct {
        const char* name;
        Kind kind;
        int secondHolds;
        QStringList questions;
        QByteArray built;
    } cases[] = {
        {"whole.bin",
         Kind::Paused,
         100,
         {},
         QByteArray(100, 'a') + QByteArray(100, 'b') + QByteArray(100, 'c')},
        {"gap.bin",
         Kind::Running,
         40,
         {texts.text(1240).arg(size(140), size(300))},
         QByteArray(100, 'a') + QByteArray(40, 'b')},
    };
    std::vector<int> entries;
    for (const auto& c : cases) {
        entries.push_back(add(QString::fromLatin1(c.name), c.kind, 3));
        ASSERT_TRUE(WriteFile(partFiles(entries.back())[1], QByteArray(c.secondHolds, 'b')));
    }
    Kestor& w = open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int slot = entries[std::size_t(&c - cases)];
        const QStringList parts = partFiles(slot);
        questions.clear();
        Select(w.listView1(), key(slot));
        answers = c.questions.isEmpty() ? std::deque<bool>{} : std::deque<bool>{false};
        trigger("forceFileBuilding");
        if (!c.questions.isEmpty()) {
            QCoreApplication::processEvents();
            EXPECT_EQ(queue->hasSession(slot), c.kind == Kind::Running) << "declined";
            answers = {true};
            trigger("forceFileBuilding");
        }
        ASSERT_TRUE(WaitFor([&] { return StateOf(record(slot)) == ListEntryState::Finished; }));
        EXPECT_FALSE(queue->hasSession(slot));
        EXPECT_EQ(questions, c.questions + c.questions);
        EXPECT_EQ(ReadFile(record(slot).SavePath), c.built);
        EXPECT_TRUE(NoneExists(parts));
        EXPECT_EQ(notes, c.questions.isEmpty()
                             ? QStringList{}
                             : QStringList{texts.text(1241).arg(size(140), size(300))});
        EXPECT_TRUE(errors.isEmpty());
    }
}

TEST_F(MainWindowTest, AddUrlTakesThePromptsAnswer) {
    Kestor& w = open();
    ScriptedAddPrompts addQuestions;  // nothing is expected to be asked here
    w.setAddPrompts(&addQuestions);
    QStringList prefills;
    std::optional<NewDownloadAnswer> answer;
    w.setNewDownloadAsk([&](const QString& prefill) {
        prefills << prefill;
        return answer;
    });
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort());

    // Cancelled, or nothing typed: nothing is added and nothing said.
    w.Command1_Click(Kestor::AddUrl);
    answer = NewDownloadAnswer{QStringLiteral("NOW"), {}, {}, {}};
    trigger("AddURL");
    EXPECT_EQ(list.DownloadCount, 0);
    EXPECT_EQ(prefills.size(), 2);
    EXPECT_TRUE(addQuestions.errors.isEmpty());

    // An address adding cannot take is never dropped without a word: adding's own message.
    for (const char* refused :
         {"gopher://127.0.0.1/a.bin", "http://", "https://", "https://127.0.0.1", "127.0.0.1/a.bin",
          "ftps://127.0.0.1/a.bin", "https://127.0.0.1:0/a.bin", "file:///etc/passwd"}) {
        SCOPED_TRACE(refused);
        addQuestions.errors.clear();
        answer = NewDownloadAnswer{QStringLiteral("NOW"), {QString::fromUtf8(refused)}, {}, {}};
        w.Command1_Click(Kestor::AddUrl);
        EXPECT_EQ(addQuestions.errors, QStringList{texts.text(400)});
        EXPECT_EQ(list.DownloadCount, 0);
    }
    addQuestions.errors.clear();

    // Later: in the list, not started.
    answer =
        NewDownloadAnswer{QStringLiteral("LATER"), {base + QStringLiteral("later.bin")}, {}, {}};
    trigger("mAddurl");
    ASSERT_EQ(list.DownloadCount, 1);
    EXPECT_EQ(record(1).Url, base + QStringLiteral("later.bin"));
    EXPECT_FALSE(queue->hasSession(1));
    EXPECT_TRUE(windows.events.isEmpty());

    // Now: started at once.
    answer = NewDownloadAnswer{QStringLiteral("NOW"),
                               {base + QStringLiteral("now.bin")},
                               QStringLiteral("user"),
                               QStringLiteral("secret")};
    w.Command1_Click(Kestor::AddUrl);
    ASSERT_EQ(list.DownloadCount, 2);
    EXPECT_TRUE(queue->hasSession(2));
    EXPECT_EQ(record(2).UserName, QStringLiteral("user"));
    QCoreApplication::processEvents();
    EXPECT_EQ(Keys(w.listView1()), (QStringList{key(1), key(2)}));
    EXPECT_TRUE(addQuestions.errors.isEmpty());

    // https:// in either letter case, with its own default port, and a typed login.
    answer = NewDownloadAnswer{QStringLiteral("LATER"),
                               {QStringLiteral("https://127.0.0.1/s.iso")},
                               QStringLiteral("user"),
                               QStringLiteral("secret")};
    w.Command1_Click(Kestor::AddUrl);
    answer = NewDownloadAnswer{
        QStringLiteral("LATER"), {QStringLiteral("HTTPS://127.0.0.1:8443/t.iso")}, {}, {}};
    w.Command1_Click(Kestor::AddUrl);
    ASSERT_EQ(list.DownloadCount, 4);
    EXPECT_EQ(record(3).Protocol, Protocol::Https);
    EXPECT_EQ(record(3).Port, 443);
    EXPECT_EQ(record(3).UserName, QStringLiteral("user"));
    EXPECT_EQ(record(3).Password, QStringLiteral("secret"));
    EXPECT_EQ(record(4).Protocol, Protocol::Https);
    EXPECT_EQ(record(4).Port, 8443);
    EXPECT_TRUE(addQuestions.errors.isEmpty());
}

// The dialog starts from the clipboard when it holds an address in a lower-case scheme.
TEST_F(MainWindowTest, AddUrlOffersTheClipboardsAddress) {
    Kestor& w = open();
    QString prefill;
    w.setNewDownloadAsk([&](const QString& text) {
        prefill = text;
        return std::nullopt;
    });
    struct Case {
        const char* clipboard;
        const char* prefill;
    };
    for (const Case& c : {
             Case{"https://127.0.0.1/a.iso", "https://127.0.0.1/a.iso"},
             Case{"  http://127.0.0.1/b.iso ", "  http://127.0.0.1/b.iso "},
             Case{"ftp://127.0.0.1/c.iso", "ftp://127.0.0.1/c.iso"},
             Case{"HTTPS://127.0.0.1/d.iso", "http://"},
             Case{"ftps://127.0.0.1/e.iso", "http://"},
             Case{"some words", "http://"},
         }) {
        SCOPED_TRACE(c.clipboard);
        QGuiApplication::clipboard()->setText(QString::fromUtf8(c.clipboard));
        w.Command1_Click(Kestor::AddUrl);
        EXPECT_EQ(prefill, QString::fromUtf8(c.prefill));
    }
}

// The site's home page keeps the download's scheme, with the port only when it is not the
// scheme's own.
TEST_F(MainWindowTest, BrowserOpensTheSitesHomePageInItsScheme) {
    const int slot = add(QStringLiteral("a.bin"), Kind::Paused);
    Kestor& w = open();
    struct Case {
        std::int16_t protocol;
        std::int32_t port;
        const char* site;
    };
    for (const Case& c : {
             Case{Protocol::Https, 443, "https://127.0.0.1/"},
             Case{Protocol::Https, 8443, "https://127.0.0.1:8443/"},
             Case{Protocol::Https, 80, "https://127.0.0.1:80/"},
             Case{Protocol::Http, 80, "http://127.0.0.1/"},
             Case{Protocol::Http, 443, "http://127.0.0.1:443/"},
             Case{Protocol::Ftp, 21, "ftp://127.0.0.1/"},
         }) {
        SCOPED_TRACE(c.site);
        record(slot).Protocol = c.protocol;
        record(slot).Port = c.port;
        browsed.clear();
        Select(w.listView1(), key(slot));
        w.Command1_Click(Kestor::Browser);
        EXPECT_EQ(browsed, QStringList{QString::fromUtf8(c.site)});
    }
}

}  // namespace
}  // namespace main_window_test
