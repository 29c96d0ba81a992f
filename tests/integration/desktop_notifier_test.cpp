// Notifications of ended downloads and "Show in folder", against a stand-in notification server
// and file manager on a private session bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include "core/text/text_table.h"
#include "integration/desktop/desktop_notifier.h"
#include "integration/desktop/show_in_folder.h"
#include "tests/support/peer_process.h"
#include "tests/support/private_bus.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"
#include "tests/support/xvfb_display.h"

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kFileManager = QStringLiteral("org.freedesktop.FileManager1");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

// Answers as a notification server (its notifications are number 7) and a file manager do, and
// keeps every call.
class DesktopStandIn : public QDBusVirtualObject {
public:
    QStringList capabilities;
    QList<QDBusMessage> calls;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        calls << call;
        const bool notify = call.member() == u"Notify";
        bus.send(call.createReply(notify ? QVariantList{7u} : QVariantList{capabilities}));
        return true;
    }
    // The arguments of each call of `member`, as texts.
    QList<QStringList> called(const QString& member) const {
        QList<QStringList> found;
        for (const QDBusMessage& call : calls) {
            if (call.member() == member) {
                found << QVariant(call.arguments()).toStringList();
            }
        }
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

// The ends as letters: F finished, X failed, C checksum failed; the files /srv/a& 1, a& 2...
std::vector<DownloadEnd> Ends(const char* kinds) {
    std::vector<DownloadEnd> ends;
    for (const char* k = kinds; *k != 0; ++k) {
        const auto kind = *k == 'F'   ? DownloadEnd::Kind::Finished
                          : *k == 'X' ? DownloadEnd::Kind::Failed
                                      : DownloadEnd::Kind::ChecksumFailed;
        const QString name = QStringLiteral("a& %1").arg(k - kinds + 1);
        ends.push_back({kind, name, QStringLiteral("/srv/") + name, "host not found"});
    }
    return ends;
}

TEST_F(DesktopNotifierTest, EndsThatComeTogetherAreOneNotification) {
    const QString tip = QStringLiteral("Brenloft Downloads (0) Speed: 0 KB/s");
    struct Row {
        const char* ends;
        QStringList capabilities;  // empty: no server runs
        QString summary;           // empty: nothing is sent at all
        QString body;
        QStringList actions{};
        bool enabled = true;
        QString trayTip{};
    };
    const Row rows[] = {
        {"F",
         {"actions", "body"},
         "Download finished",
         "a& 1",
         {"open", "Open", "show", "Show in folder"}},
        {"F", {"body"}, "Download finished", "a& 1\n" + tip, {}, true, tip},
        {"X", {"actions"}, "Download failed", "a& 1\nhost not found"},
        {"C", {"body-markup"}, "Checksum failed", "a&amp; 1"},
        {"FFFFFFFFFFXX",
         {"actions"},
         "10 downloads finished, 2 downloads failed",
         "a& 1\na& 2\na& 3\na& 4\na& 5\nand 7 more"},
        {"F", {}, {}, {}},
        {"F", {"actions"}, {}, {}, {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE((row.ends + row.capabilities.join(u' ')).toStdString());
        standIn.calls.clear();
        standIn.capabilities = row.capabilities;
        ASSERT_TRUE(row.capabilities.isEmpty() || desktop.registerService(kNotifications));
        DesktopNotifier notifier(
            app, texts, {[&] { return row.enabled; }, [&] { return row.trayTip; }, {}, {}});
        for (const DownloadEnd& end : Ends(row.ends)) {
            notifier.tell(end);
        }
        ASSERT_TRUE(WaitFor([&] { return notifier.idle(); }));
        settle();
        desktop.unregisterService(kNotifications);
        const QList<QStringList> notes = standIn.called(QStringLiteral("Notify"));
        ASSERT_EQ(notes.size(), row.summary.isEmpty() ? 0 : 1);
        EXPECT_EQ(standIn.calls.isEmpty(), row.summary.isEmpty());
        if (!notes.isEmpty()) {
            EXPECT_EQ(notes[0].mid(0, 5),
                      (QStringList{"Brenloft", "0", "brenloft", row.summary, row.body}));
            EXPECT_EQ(standIn.calls.last().arguments()[5].toStringList(), row.actions);
        }
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
        notifier.tell(Ends("F")[0]);
        EXPECT_TRUE(WaitFor([&] { return standIn.called("Notify").size() == count; }));
        return standIn.called("Notify").value(count - 1).mid(1, 3);
    };
    EXPECT_EQ(told(1), (QStringList{"0", "brenloft", "Download finished"}));
    signal(QStringLiteral("ActionInvoked"), {7u, QStringLiteral("show")});
    ASSERT_TRUE(WaitFor([&] { return !standIn.called("ShowItems").isEmpty(); }));
    EXPECT_EQ(standIn.calls.last().arguments()[0].toStringList(),
              QStringList{"file:///srv/a&%201"});
    signal(QStringLiteral("ActionInvoked"), {7u, QStringLiteral("open")});
    ASSERT_TRUE(WaitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QStringList{"/srv/a& 1"});

    EXPECT_EQ(told(2), (QStringList{"7", "brenloft", "2 downloads finished"}));
    signal(QStringLiteral("NotificationClosed"), {7u, 1u});
    settle();
    EXPECT_EQ(told(3), (QStringList{"0", "brenloft", "Download finished"}));

    desktop.unregisterService(kFileManager);
    ShowInFolder(app, QStringLiteral("/srv/a& 1"), open, &notifier);
    ASSERT_TRUE(WaitFor([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened.last(), QStringLiteral("/srv"));
}

// A real notification server takes the calls: dunst on a display of its own.
TEST_F(DesktopNotifierTest, DunstShowsTheNotification) {
    XvfbDisplay display;
    PeerProcess dunst;
    const Sandbox box;
    ASSERT_TRUE(display.start()) << display.error().toStdString();
    qputenv("DISPLAY", display.name().toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    ASSERT_TRUE(WriteFile(box.file(QStringLiteral("dunstrc")), {}));
    ASSERT_TRUE(dunst.start(QStringLiteral("dunst"), {"-config", box.file("dunstrc")}));
    const QDBusMessage shown =
        QDBusMessage::createMethodCall(kNotifications, kNotificationsPath,
                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"))
        << QStringLiteral("org.dunstproject.cmd0") << QStringLiteral("displayedLength");
    const auto displayed = [&] {
        const QDBusMessage reply = app.call(shown);
        return reply.type() == QDBusMessage::ReplyMessage
                   ? reply.arguments().value(0).value<QDBusVariant>().variant().toInt()
                   : -1;
    };
    ASSERT_TRUE(WaitUntilServing(dunst.pid(), [&] { return displayed() == 0; }));
    DesktopNotifier notifier(app, texts, {});
    notifier.tell(Ends("F")[0]);
    EXPECT_TRUE(WaitFor([&] { return displayed() == 1; })) << dunst.errorOutput().toStdString();
}

}  // namespace
