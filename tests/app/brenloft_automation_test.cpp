// The running program serves addresses from other programs on the session bus, and a call
// made while it is not running starts it from the activation file it wrote.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>

#include "core/download_list/checksum_note.h"
#include "core/download_list/list_file_format.h"
#include "tests/app/brenloft_program.h"
#include "tests/support/expired_entry.h"
#include "tests/support/private_bus.h"

namespace {

QDBusMessage Ieurl(QDBusConnection& bus, const QString& url) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("VelmoraProject.Velmora"), QStringLiteral("/Velmora"),
        QStringLiteral("VelmoraProject.Velmora"), QStringLiteral("IEURL"));
    call << url;
    // Starting the program from its activation file takes a while under the sanitizers.
    return bus.call(call, QDBus::Block, 60000);
}

QDBusMessage MenuUrlChecksum(QDBusConnection& bus, const QString& url, const QString& checksum) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("VelmoraProject.Velmora"), QStringLiteral("/Velmora"),
        QStringLiteral("VelmoraProject.Velmora"), QStringLiteral("MenuURLChecksum"));
    call << url << QString() << QString() << checksum;
    return bus.call(call, QDBus::Block, 60000);
}

bool Listed(const BrenloftHome& home, const QString& url) {
    DownloadListState list;
    return home.savedList(list) && SlotOf(list, url) > 0;
}

bool Gone(qint64 pid) {
    return !QDir(QStringLiteral("/proc/%1").arg(pid)).exists();
}

// The program's entry point is on the bus.
bool Served(QDBusConnection& caller) {
    return WaitFor(
        [&] {
            return caller.interface()->isServiceRegistered(
                QStringLiteral("VelmoraProject.Velmora"));
        },
        std::chrono::seconds(30));
}

}  // namespace

TEST(BrenloftAutomation, ServesCallsAndIsStartedByThem) {
    BrenloftHome home;
    const QString services = home.path(QStringLiteral("data/dbus-1/services"));
    ASSERT_TRUE(QDir().mkpath(services));
    PrivateBus bus;
    ASSERT_TRUE(bus.start(QStringLiteral("session"), services)) << bus.error().toStdString();
    home.setSessionBus(bus.address());
    QDBusConnection caller = QDBusConnection::connectToBus(bus.address(), QStringLiteral("caller"));
    ASSERT_TRUE(caller.isConnected());
    // What the bus gives the programs it starts: this user's sandboxed home.
    ASSERT_TRUE(PrivateBus::SetActivationEnvironment(caller, home.environment()));

    const QString first = QStringLiteral("http://127.0.0.1:9/first.zip");
    const QString second = QStringLiteral("ftp://127.0.0.1:9/second.iso");
    const QString refused = QStringLiteral("http://127.0.0.1:9/refused.iso");
    const QString checked = QStringLiteral("http://127.0.0.1:9/checked.iso");
    const QString sum(64, u'c');
    {
        BrenloftRun run(home);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(Served(caller));
        QDBusMessage reply = Ieurl(caller, first);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.arguments().value(0).toInt(), 1);
        reply = Ieurl(caller, QStringLiteral(" ") + first);
        EXPECT_EQ(reply.arguments().value(0).toInt(), 0);
        reply = MenuUrlChecksum(caller, refused, QStringLiteral("sha-256=abc"));
        EXPECT_EQ(reply.errorMessage(), QStringLiteral("not a checksum: sha-256=abc"));
        reply = MenuUrlChecksum(caller, checked, sum.toUpper());
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        ASSERT_TRUE(run.stopWith(SIGTERM));
        EXPECT_TRUE(run.endedCleanly());
    }
    EXPECT_TRUE(Listed(home, first));
    EXPECT_FALSE(Listed(home, refused));
    DownloadListState list;
    ASSERT_TRUE(home.savedList(list));
    const ChecksumNote note = ReadChecksumNote(list.DownloadList[SlotOf(list, checked)]);
    EXPECT_EQ(note.expected, (Checksum{DigestKind::Sha256, sum}));
    EXPECT_TRUE(note.given());
    ASSERT_TRUE(QFile::exists(services + QStringLiteral("/VelmoraProject.Velmora.service")));

    // Not running now: the call starts the program, which serves it once it is up.
    ASSERT_EQ(
        caller
            .call(QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")))
            .type(),
        QDBusMessage::ReplyMessage);
    const QDBusMessage reply = Ieurl(caller, second);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments().value(0).toInt(), 1);
    const QDBusReply<uint> pid =
        caller.interface()->servicePid(QStringLiteral("VelmoraProject.Velmora"));
    ASSERT_TRUE(pid.isValid());
    ASSERT_GT(pid.value(), 0u);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid.value()), SIGTERM), 0);
    EXPECT_TRUE(WaitFor([&] { return Gone(pid.value()); }, std::chrono::seconds(30)));
    EXPECT_TRUE(Listed(home, first));
    EXPECT_TRUE(Listed(home, second)) << "the started program added and saved it";
    QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
}

// ChangeURL moves an unfinished download to an address of the same file and says why it will
// not move it to another.
TEST(BrenloftAutomation, ChangeUrlContinuesOnlyTheSameFile) {
    BrenloftHome home;
    HttpFaultServer server;
    ASSERT_TRUE(server.start(home.path(QStringLiteral("server.log"))))
        << server.error().toStdString();
    const QString expiring =
        server.url(QStringLiteral("expire-1000-a"), 300000, QStringLiteral("big.bin"));
    DownloadListState list;
    list.DownloadList.append(
        ExpiredSignedEntry(expiring, 300000, 1000, home.path(QStringLiteral("tmp/big.tmp"))));
    list.DownloadCount = 1;
    ASSERT_TRUE(QDir().mkpath(home.app()));
    ASSERT_TRUE(WriteFile(home.listFile(), EncodeListFile(list)));
    PrivateBus bus;
    ASSERT_TRUE(bus.start(QStringLiteral("session"))) << bus.error().toStdString();
    home.setSessionBus(bus.address());
    QDBusConnection caller = QDBusConnection::connectToBus(bus.address(), QStringLiteral("caller"));
    BrenloftRun run(home);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(Served(caller));
    const auto change = [&](const QString& to) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("VelmoraProject.Velmora"), QStringLiteral("/Velmora"),
            QStringLiteral("VelmoraProject.Velmora"), QStringLiteral("ChangeURL"));
        call << expiring << to;
        return caller.call(call, QDBus::Block, 60000);
    };
    QDBusMessage reply =
        change(server.url(QStringLiteral("lookalike-b"), 300000, QStringLiteral("big.bin")));
    EXPECT_EQ(reply.errorName(), QStringLiteral("VelmoraProject.Velmora.Refused"));
    EXPECT_TRUE(reply.errorMessage().startsWith(QStringLiteral("other bytes")))
        << reply.errorMessage().toStdString();
    reply = change(server.url(QStringLiteral("token-b"), 300000, QStringLiteral("big.bin")));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_TRUE(WaitFor(
        [&] {
            return HoldsBytes(home.downloads(QStringLiteral("big.bin")),
                              HttpFaultServer::Body(QStringLiteral("signed"), 300000));
        },
        std::chrono::seconds(30)));
    ASSERT_TRUE(run.stopWith(SIGTERM));
    QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
}
