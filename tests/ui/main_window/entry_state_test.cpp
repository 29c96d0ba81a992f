// What a stopped entry tells the user, the finished list's menu and file types, and the
// language's conventions for numbers and dates.

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QSignalSpy>

#include "core/text/format.h"
#include "engine/address_change/address_change.h"
#include "engine/session/failure_words.h"
#include "net/winsock_errors.h"
#include "tests/support/expired_entry.h"
#include "tests/ui/main_window/main_window_fixture.h"
#include "ui/main_window/language_conventions.h"

namespace main_window_test {
namespace {

using U = UnfinishedListModel;
using F = FinishedListModel;

TEST(FailureReason, EngineReasonsInWordsAndOtherReasonsAsTheyCame) {
    TextTable texts;
    ASSERT_TRUE(
        LoadLanguage(texts, QStringLiteral("english"), {SourcePath(QStringLiteral("data/lang"))}));
    struct Case {
        QString why;
        QString shown;
    };
    const auto socket = [](std::int32_t n) { return QStringLiteral("socket error %1").arg(n); };
    for (const Case& c : {
             Case{socket(WinSock::AddressNotAvailable), QStringLiteral("host not found")},
             Case{socket(WinSock::ConnectionRefused), QStringLiteral("connection refused")},
             Case{socket(WinSock::TimedOut), QStringLiteral("no answer from the server")},
             Case{socket(WinSock::HostUnreachable), QStringLiteral("host unreachable")},
             Case{socket(WinSock::NetworkUnreachable), QStringLiteral("host unreachable")},
             Case{socket(WinSock::NoBufferSpace), QStringLiteral("no buffer space left (10055)")},
             Case{SocketErrorText(WinSock::ConnectionReset),
                  QStringLiteral("connection reset by the server (10054)")},
             Case{QStringLiteral("socket error 99"), QStringLiteral("socket error (99)")},
             Case{QStringLiteral("HTTP 404: Not Found"), QStringLiteral("HTTP 404: Not Found")},
             Case{QStringLiteral(" the disk is full "), QStringLiteral("the disk is full")},
             Case{QStringLiteral("no connection"), QStringLiteral("no connection could be made")},
             Case{QStringLiteral("the address is a web page (text/html), not a file"),
                  QStringLiteral("the address is a web page, not a file")},
             Case{QStringLiteral("too many redirects (more than 20)"),
                  QStringLiteral("too many redirects (more than 20)")},
             Case{QStringLiteral("too many redirects (more than x)"),
                  QStringLiteral("too many redirects (more than x)")},
             Case{QString(), QString()},
         }) {
        SCOPED_TRACE(c.why.toStdString());
        EXPECT_EQ(FailureReason(c.why, texts), c.shown);
    }
    ASSERT_TRUE(
        LoadLanguage(texts, QStringLiteral("francais"), {SourcePath(QStringLiteral("data/lang"))}));
    EXPECT_EQ(FailureReason(QStringLiteral("too many redirects (more than 20)"), texts),
              QStringLiteral("trop de redirections (plus de 20)"));
    EXPECT_EQ(FailureReason(socket(WinSock::ConnectionRefused), texts), texts.text(113));
    EXPECT_EQ(FailureWords(HttpFailureCode(503), texts),
              QStringLiteral("le serveur a répondu 503 Service indisponible"));
}

TEST_F(MainWindowTest, AStoppedEntrySaysWhyUntilItRunsAgain) {
    const int slot = add(QStringLiteral("gone.iso"), Kind::Paused);
    record(slot).RemainingSeconds = 65;
    Kestor& w = open();
    const QTreeView* v1 = w.listView1();
    // A paused entry shows its percentage, and no time left from when it last ran.
    EXPECT_EQ(Cell(v1, key(slot), U::State), QStringLiteral(" (Paused: 40.0%)"));
    EXPECT_EQ(Cell(v1, key(slot), U::TimeLeft), QString());

    struct Case {
        const char* why;
        const char* state;      // empty: the paused form
        std::int16_t code = 0;  // the stored reason, as a restart finds it
    };
    for (const Case& c : {
             Case{"socket error 10049", "Failed: host not found"},
             Case{"socket error 10061", "Failed: connection refused"},
             Case{"HTTP 404: Not Found", "Failed: HTTP 404: Not Found"},
             Case{"", "Failed: the server answered 404 Not Found", 404},
             Case{"", ""},
         }) {
        SCOPED_TRACE(c.why);
        record(slot).Failed = *c.why != 0 ? FlagTrue : FlagFalse;
        if (c.code != 0) {
            MarkFailed(record(slot), c.code);
        }
        emit queue->sessionEnded(slot, QString::fromUtf8(c.why));
        w.RefreshListView(0, true);
        const QString state = QString::fromUtf8(c.state);
        if (state.isEmpty()) {
            EXPECT_EQ(Cell(v1, key(slot), U::State), QStringLiteral(" (Paused: 40.0%)"));
            EXPECT_EQ(Cell(v1, key(slot), U::Name, Qt::ToolTipRole), DecodeUrl(key(slot)));
            continue;
        }
        EXPECT_EQ(Cell(v1, key(slot), U::State), state);
        EXPECT_EQ(Cell(v1, key(slot), U::Name, Qt::ToolTipRole),
                  DecodeUrl(key(slot)) + u'\n' + state);
        EXPECT_FALSE(
            v1->model()->index(ViewRow(v1, key(slot)), U::State).data(U::PercentRole).isValid());
        EXPECT_EQ(Cell(v1, key(slot), 0, U::IconKeyRole), QStringLiteral("wrong"));
    }

    // Resume tries again: the entry runs, and the old reason is gone for good.
    emit queue->sessionEnded(slot, QStringLiteral("socket error 10049"));
    w.resumeall();
    w.RefreshListView(0, true);
    EXPECT_EQ(StateOf(record(slot)), ListEntryState::Running);
    EXPECT_EQ(Cell(v1, key(slot), U::State), QStringLiteral(" (Downloading: 40.0%)"));
    EXPECT_EQ(w.unfinishedRows().reasonOf(key(slot)), QString());
}

TEST_F(MainWindowTest, WaitingEntriesSayWhatTheyWaitFor) {
    struct Case {
        Kind kind;
        const char* state;
    };
    for (const Case& c : {
             Case{Kind::Queued, "Queued"},
             Case{Kind::Scheduled, "Scheduled"},
             Case{Kind::Paused, " (Paused: 40.0%)"},
             Case{Kind::Failed, " (Failed: 40.0%)"},
         }) {
        const int slot = add(QStringLiteral("e%1.bin").arg(int(c.kind)), c.kind);
        record(slot).RemainingSeconds = 30;
        Kestor& w = open();
        SCOPED_TRACE(c.state);
        EXPECT_EQ(Cell(w.listView1(), key(slot), U::State), QString::fromUtf8(c.state));
        EXPECT_EQ(Cell(w.listView1(), key(slot), U::TimeLeft), QString());
    }
}

TEST_F(MainWindowTest, FinishedListMenuOpensTheFileItsFolderAndCopiesTheAddress) {
    const int there = add(QStringLiteral("there.png"), Kind::Finished);
    const int gone = add(QStringLiteral("gone.txt"), Kind::FinishedMissing);
    QStringList opened;
    ctx.openUrl = [&opened](const QString& path) { opened << path; };
    Kestor& w = open();
    auto* pop2 = w.findChild<QMenu*>(QStringLiteral("pop2"));
    ASSERT_NE(pop2, nullptr);
    ASSERT_NE(pop2->defaultAction(), nullptr);
    EXPECT_EQ(pop2->defaultAction()->objectName(), QStringLiteral("openfile2"));
    EXPECT_EQ(pop2->defaultAction()->text(), texts.text(117));

    // Nothing selected: nothing happens.
    trigger("openfile2");
    trigger("openfolder2");
    EXPECT_TRUE(opened.isEmpty());

    Select(w.listView2(), key(there));
    trigger("openfile2");
    trigger("openfolder2");
    trigger("copyurl2");
    EXPECT_EQ(opened, (QStringList{record(there).SavePath,
                                   QFileInfo(record(there).SavePath).absolutePath()}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), key(there));

    w.listView2()->clearSelection();
    Select(w.listView2(), key(gone));
    opened.clear();
    trigger("openfile2");
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(errors, QStringList{texts.text(687) + QStringLiteral(" gone.txt")});
}

TEST_F(MainWindowTest, FinishedRowsShowTheirFileType) {
    struct Case {
        const char* name;
        const char* type;
    };
    const std::vector<Case> cases = {
        {"photo.png", "image/png"},
        {"notes.txt", "text/plain"},
        {"archive.zip", "application/zip"},
        {"movie.mkv", "video/x-matroska"},
    };
    for (const Case& c : cases) {
        add(QString::fromUtf8(c.name), Kind::Finished);
    }
    Kestor& w = open();
    for (int i = 0; i < int(cases.size()); ++i) {
        SCOPED_TRACE(cases[i].name);
        const QString k = key(i + 1);
        EXPECT_EQ(Cell(w.listView2(), k, 0, F::TypeRole), QString::fromUtf8(cases[i].type));
        const QModelIndex cell = w.listView2()->model()->index(ViewRow(w.listView2(), k), 0);
        EXPECT_FALSE(cell.data(Qt::DecorationRole).value<QIcon>().isNull());
    }
}

TEST_F(MainWindowTest, NumbersAndSizesFollowTheLanguage) {
    struct Case {
        const char* language;
        const char* size;
        const char* state;
    };
    for (const Case& c : {
             Case{"english", "1.46 MB", " (Paused: 12.5%)"},
             Case{"francais", "1,46 Mo", " (En pause : 12,5%)"},
         }) {
        SCOPED_TRACE(c.language);
        ASSERT_TRUE(LoadLanguage(texts, QString::fromUtf8(c.language),
                                 {SourcePath(QStringLiteral("data/lang"))}));
        list.DownloadList.resize(1);
        list.DownloadCount = 0;
        const int slot = add(QStringLiteral("big.iso"), Kind::Paused);
        record(slot).FileSize = Currency::fromBytes(1536000);
        record(slot).Percent = 12.5f;
        Kestor& w = open();
        EXPECT_EQ(Cell(w.listView1(), key(slot), U::Size), QString::fromUtf8(c.size));
        EXPECT_EQ(Cell(w.listView1(), key(slot), U::State), QString::fromUtf8(c.state));
        EXPECT_EQ(Cell(w.listView1(), key(slot), U::Added),
                  LanguageLocale(texts).toString(record(slot).DateAdded.toDateTime().date(),
                                                 QLocale::ShortFormat));
    }
    EXPECT_EQ(LanguageLocale(texts).decimalPoint(), QStringLiteral(","));
}

}  // namespace
}  // namespace main_window_test

namespace main_window_test {
namespace {

// A signed address runs out after 60000 bytes: the entry asks for a new address, refuses
// another file of the same size and a file of another size, and continues from a fresh token
// to the very file the server holds.
TEST_F(MainWindowTest, AnExpiredLinkContinuesOnlyFromAnAddressOfTheSameFile) {
    HttpFaultServer server;
    ASSERT_TRUE(server.start(file(QStringLiteral("server.log")))) << server.error().toStdString();
    const QString expiring =
        server.url(QStringLiteral("expire-60000-a"), 200000, QStringLiteral("big.bin"));
    const QByteArray served = HttpFaultServer::Body(QStringLiteral("signed"), 200000);
    list.DownloadList.append(
        ExpiredSignedEntry(expiring, served.size(), 60000, file(QStringLiteral("temp/big.tmp"))));
    list.DownloadCount = 1;
    open();
    window->RefreshListView(0, true);
    EXPECT_EQ(Cell(window->listView1(), key(1), U::State), texts.text(1341));

    QStringList typed = {
        server.url(QStringLiteral("lookalike-b"), 200000, QStringLiteral("big.bin")),
        server.url(QStringLiteral("token-c"), 150000, QStringLiteral("big.bin"))};
    QStringList labels;
    window->setAddressAsk([&](const QString& label) {
        labels << label;
        return std::optional(typed.takeFirst());
    });
    for (const char* reason : {"other bytes", "another size"}) {
        Select(window->listView1(), key(1));
        trigger("changeAddress");
        EXPECT_EQ(window->statusText(1), texts.text(1351));
        ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty(); }, std::chrono::seconds(20)));
        EXPECT_TRUE(errors.takeFirst().contains(QLatin1String(reason))) << reason;
    }
    // The fresh token, typed as a new download, is offered as this one's continuation.
    const QString fresh = server.url(QStringLiteral("token-d"), 200000, QStringLiteral("big.bin"));
    window->setNewDownloadAsk([&](const QString&) {
        return std::optional(NewDownloadAnswer{QStringLiteral("NOW"), {fresh}, {}, {}});
    });
    answers = {true};
    trigger("mAddurl");
    ASSERT_TRUE(WaitFor([&] { return StateOf(record(1)) == ListEntryState::Finished; },
                        std::chrono::seconds(30)));
    EXPECT_EQ(labels.value(0), texts.text(1353).arg(QStringLiteral("big.bin")));
    EXPECT_EQ(questions, QStringList{texts.text(1343).arg(QStringLiteral("big.bin"),
                                                          QStringLiteral("30.0 %"))});
    EXPECT_EQ(UsedSlots(list), 1);
    EXPECT_EQ(errors, QStringList());
    EXPECT_EQ(ReadFile(record(1).SavePath),
              HttpFaultServer::Body(QStringLiteral("signed"), 200000));
    EXPECT_EQ(EarlierAddresses(record(1)), QStringList{expiring});
}

}  // namespace
}  // namespace main_window_test
