// Notifications of ended downloads and "Show in folder", against a stand-in notification server
// and file manager on a private session bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>

#include "core/download_list/checksum_note.h"
#include "core/download_list/entry_state.h"
#include "core/text/text_table.h"
#include "engine/checksum/checksum_checks.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "integration/desktop/desktop_notifier.h"
#include "integration/desktop/download_end_notices.h"
#include "integration/desktop/show_in_folder.h"
#include "tests/support/engine_rig.h"
#include "tests/support/private_bus.h"

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kFileManager = QStringLiteral("org.freedesktop.FileManager1");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

// Answers as a notification server and a file manager do, and keeps every call.
class DesktopStandIn : public QDBusVirtualObject {
public:
    QStringList capabilities;
    QList<QDBusMessage> calls;
    uint lastId = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        calls << call;
        QVariantList answer;
        if (call.member() == u"GetCapabilities") {
            answer << capabilities;
        } else if (call.member() == u"Notify") {
            // A replaced notification keeps its id.
            lastId = call.arguments().value(1).toUInt();
            lastId = lastId != 0 ? lastId : uint(40 + calls.size());
            answer << lastId;
        }
        bus.send(call.createReply(answer));
        return true;
    }
    QList<QDBusMessage> calledFor(const QString& member) const {
        QList<QDBusMessage> found;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                     [&](const QDBusMessage& m) { return m.member() == member; });
        return found;
    }
};

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.start(QStringLiteral("session"))) << bus.error().toStdString();
        ASSERT_TRUE(LoadLanguage(texts, QStringLiteral("english"),
                                 {SourcePath(QStringLiteral("data/lang"))}));
        desktop = QDBusConnection::connectToBus(bus.address(), QStringLiteral("desktop"));
        app = QDBusConnection::connectToBus(bus.address(), QStringLiteral("brenloft"));
        ASSERT_TRUE(desktop.registerVirtualObject(kNotificationsPath, &standIn));
        ASSERT_TRUE(desktop.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"),
                                                  &standIn));
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("brenloft"));
    }
    // Every call the program made so far has reached the stand-in: the bus keeps a sender's
    // messages in order, so an answered call of its own comes after them.
    void settle() {
        const QDBusPendingCall ping = app.asyncCall(QDBusMessage::createMethodCall(
            desktop.baseService(), kNotificationsPath, kNotifications, QStringLiteral("Ping")));
        ASSERT_TRUE(WaitFor([&] { return ping.isFinished(); }));
        standIn.calls.removeLast();
    }
    void signal(const QString& name, const QVariantList& arguments) {
        QDBusMessage s = QDBusMessage::createSignal(kNotificationsPath, kNotifications, name);
        s.setArguments(arguments);
        ASSERT_TRUE(desktop.send(s));
    }

    TextTable texts;
    PrivateBus bus;
    QDBusConnection desktop{QString()};
    QDBusConnection app{QString()};
    DesktopStandIn standIn;
};

DownloadEnd End(DownloadEnd::Kind kind, const QString& name) {
    return {kind, name, QStringLiteral("/srv/") + name, QStringLiteral("host not found")};
}

TEST_F(DesktopNotifierTest, EndsThatComeTogetherAreOneNotification) {
    using K = DownloadEnd::Kind;
    const QString tip = QStringLiteral("Brenloft Downloads (0) Speed: 0 KB/s");
    struct Row {
        const char* what;
        QStringList capabilities;  // empty: no server runs
        std::vector<DownloadEnd> ends;
        QString summary;  // empty: nothing is sent at all
        QString body;
        QStringList actions;
        bool enabled = true;
        QString trayTip{};
    };
    std::vector<DownloadEnd> twelve;
    for (int i = 1; i <= 12; ++i) {
        twelve.push_back(End(i <= 10 ? K::Finished : K::Failed, QStringLiteral("f%1").arg(i)));
    }
    const Row rows[] = {
        {"finished, with actions",
         {"actions", "body"},
         {End(K::Finished, "a.iso")},
         "Download finished",
         "a.iso",
         {"open", "Open", "show", "Show in folder"}},
        {"finished, no tray",
         {"body"},
         {End(K::Finished, "a.iso")},
         "Download finished",
         "a.iso\n" + tip,
         {},
         true,
         tip},
        {"failed",
         {"actions"},
         {End(K::Failed, "b.zip")},
         "Download failed",
         "b.zip\nhost not found",
         {}},
        {"checksum, markup",
         {"body-markup"},
         {End(K::ChecksumFailed, "c&d.iso")},
         "Checksum failed",
         "c&amp;d.iso",
         {}},
        {"twelve",
         {"actions"},
         twelve,
         "10 downloads finished, 2 downloads failed",
         "f1\nf2\nf3\nf4\nf5\nand 7 more",
         {}},
        {"no server", {}, {End(K::Finished, "a.iso")}, {}, {}, {}},
        {"switched off", {"actions"}, {End(K::Finished, "a.iso")}, {}, {}, {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        standIn.calls.clear();
        standIn.capabilities = row.capabilities;
        ASSERT_TRUE(row.capabilities.isEmpty() || desktop.registerService(kNotifications));
        DesktopNotifier notifier(
            app, texts, {[&] { return row.enabled; }, [&] { return row.trayTip; }, {}, {}});
        for (const DownloadEnd& end : row.ends) {
            notifier.tell(end);
        }
        ASSERT_TRUE(WaitFor([&] { return notifier.idle(); }));
        settle();
        desktop.unregisterService(kNotifications);
        const QList<QDBusMessage> notes = standIn.calledFor(QStringLiteral("Notify"));
        if (row.summary.isEmpty()) {
            EXPECT_TRUE(standIn.calls.isEmpty());
            continue;
        }
        ASSERT_EQ(notes.size(), 1);
        const QVariantList a = notes[0].arguments();
        EXPECT_EQ(a.mid(0, 5), (QVariantList{"Brenloft", 0u, "brenloft", row.summary, row.body}));
        EXPECT_EQ(a[5].toStringList(), row.actions);
    }
}

// The action reaches the file manager; a notification on the screen is replaced by the next,
// which counts both, until the server closes it; no file manager opens the folder instead.
TEST_F(DesktopNotifierTest, ActionsAndReplacements) {
    standIn.capabilities = QStringList{"actions"};
    ASSERT_TRUE(desktop.registerService(kNotifications) && desktop.registerService(kFileManager));
    QStringList opened;
    const auto open = [&](const QString& path) { opened << path; };
    DesktopNotifier notifier(app, texts, {{}, {}, open, [&](const QString& path) {
                                              ShowInFolder(app, path, open, &notifier);
                                          }});
    const auto told = [&](int count) {
        EXPECT_TRUE(WaitFor([&] { return standIn.calledFor("Notify").size() == count; }));
        return standIn.calledFor("Notify").value(count - 1).arguments();
    };
    notifier.tell(End(DownloadEnd::Kind::Finished, "a b.iso"));
    ASSERT_EQ(told(1).value(1), QVariant(0u));
    const uint id = standIn.lastId;
    signal(QStringLiteral("ActionInvoked"), {id, QStringLiteral("show")});
    ASSERT_TRUE(WaitFor([&] { return !standIn.calledFor("ShowItems").isEmpty(); }));
    EXPECT_EQ(standIn.calledFor("ShowItems")[0].arguments(),
              (QVariantList{QStringList{"file:///srv/a%20b.iso"}, QString()}));
    signal(QStringLiteral("ActionInvoked"), {id, QStringLiteral("open")});
    ASSERT_TRUE(WaitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QStringList{"/srv/a b.iso"});

    notifier.tell(End(DownloadEnd::Kind::Finished, "c.iso"));
    EXPECT_EQ(told(2).mid(1, 3), (QVariantList{id, "brenloft", "2 downloads finished"}));
    signal(QStringLiteral("NotificationClosed"), {id, 1u});
    ASSERT_TRUE(WaitFor([&] { return notifier.idle(); }));
    settle();
    notifier.tell(End(DownloadEnd::Kind::Finished, "d.iso"));
    EXPECT_EQ(told(3).mid(1, 3), (QVariantList{0u, "brenloft", "Download finished"}));

    desktop.unregisterService(kFileManager);
    ShowInFolder(app, QStringLiteral("/srv/d.iso"), open, &notifier);
    ASSERT_TRUE(WaitFor([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened.last(), QStringLiteral("/srv"));
}

// Which ends of the queue's sessions and checks are told, and how.
TEST(DownloadEndNotices, SessionEndsAndFailedChecks) {
    EngineRig engine;
    engine.settings.ChecksumLookups = FlagFalse;
    NoSessionWindows windows;
    DownloadQueue queue(engine.ctx, windows);
    ChecksumChecks checks(engine.ctx, queue);
    std::vector<DownloadEnd> told;
    DownloadEndNotices notices(engine.ctx, queue, checks,
                               [&](const DownloadEnd& end) { told.push_back(end); });
    DownloadRecord r;
    r.Active = FlagTrue;
    r.FileName = QStringLiteral("e.iso");
    r.SavePath = engine.downloads() + r.FileName;
    engine.list.DownloadList.append(r);
    engine.list.DownloadCount = 1;
    DownloadRecord& e = engine.record(1);
    struct Row {
        std::int16_t failed, completed, code;
        const char* why;
        const char* reason;  // "": told as finished; nullptr: not told
    };
    for (const Row& row : {Row{FlagFalse, FlagFalse, 0, "", nullptr},
                           Row{FlagTrue, FlagFalse, 0, "socket error 10049", "host not found"},
                           Row{FlagTrue, FlagFalse, 404, "", "the server answered 404 Not Found"},
                           Row{FlagFalse, FlagTrue, 0, "", ""}}) {
        SCOPED_TRACE(row.why);
        told.clear();
        e.Failed = row.failed;
        e.Completed = row.completed;
        if (row.code != 0) {
            MarkFailed(e, row.code);
        }
        emit queue.sessionEnded(1, QString::fromUtf8(row.why));
        ASSERT_EQ(told.size(), row.reason ? 1u : 0u);
        if (row.reason) {
            EXPECT_EQ(told[0].kind,
                      *row.reason ? DownloadEnd::Kind::Failed : DownloadEnd::Kind::Finished);
            EXPECT_EQ(told[0].reason, QString::fromUtf8(row.reason));
            EXPECT_EQ(told[0].path, r.SavePath);
        }
    }
    // A failed check is told once, also when the file is hashed again for its SHA-256.
    told.clear();
    ChecksumNote note;
    note.outcome = ChecksumNote::Outcome::Failed;
    KeepChecksumNote(e, note);
    emit checks.checked(1);
    emit checks.checked(1);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].kind, DownloadEnd::Kind::ChecksumFailed);
}

}  // namespace
