#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "integration/system/stay_awake.h"
#include "integration/system/system_completion_actions.h"
#include "tests/support/engine_rig.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/peer_process.h"
#include "tests/support/private_bus.h"
#include "tests/support/sandbox.h"

namespace {

constexpr char kSystemBusVariable[] = "DBUS_SYSTEM_BUS_ADDRESS";
const QString kRealSystemBus = QStringLiteral("/run/dbus/system_bus_socket");
const QString kActivePrefix = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/");

// The system bus of these tests: a dbus-daemon of their own, started once per process because
// Qt keeps its first system bus connection for the life of the process. Until it runs, the
// variable names a socket that does not exist, so nothing can fall through to the real bus.
class PrivateSystemBus : public ::testing::Environment {
public:
    static QString address;  // as dbus-daemon printed it
    static QString socket;   // the file it listens on
    static qint64 pid;       // the daemon's process, which the bus itself also reports

    void SetUp() override {
        bus_ = std::make_unique<PrivateBus>();
        ASSERT_TRUE(bus_->start(QStringLiteral("system"))) << bus_->error().toStdString();
        address = bus_->address();
        socket = address.mid(address.indexOf(u'=') + 1).section(u',', 0, 0);
        pid = bus_->pid();
        qputenv(kSystemBusVariable, address.toUtf8());
    }

    void TearDown() override { bus_.reset(); }

private:
    std::unique_ptr<PrivateBus> bus_;
};

QString PrivateSystemBus::address;
QString PrivateSystemBus::socket;
qint64 PrivateSystemBus::pid = 0;

const bool kBusRegistered = [] {
    qputenv(kSystemBusVariable, QByteArrayLiteral("unix:path=/nonexistent/brenloft-tests-no-bus"));
    ::testing::AddGlobalTestEnvironment(new PrivateSystemBus);
    return true;
}();

bool NameOwned(const QString& name) {
    return QDBusConnection::systemBus().interface()->isServiceRegistered(name).value();
}

// The fake NetworkManager and logind, in a process of their own so that they answer while the
// code under test waits in a blocking call.
class FakeServices {
public:
    bool start(const QStringList& arguments) {
        if (!peer_.start(QStringLiteral(FAKE_SYSTEM_SERVICES),
                         QStringList{PrivateSystemBus::address} + arguments)) {
            return false;
        }
        return peer_.firstLine() == QLatin1String("ready");
    }

    // Stops the services and returns the requests they received, in order. Returns only once
    // the bus has dropped their names, so the next test starts on an empty bus.
    QStringList stopAndTakeCalls() {
        peer_.stop();
        QStringList calls;
        for (QString line = peer_.firstLine(0); !line.isEmpty(); line = peer_.firstLine(0)) {
            calls << line;
        }
        EXPECT_TRUE(WaitFor([] {
            return !NameOwned(QStringLiteral("org.freedesktop.NetworkManager")) &&
                   !NameOwned(QStringLiteral("org.freedesktop.login1"));
        }));
        return calls;
    }

    QByteArray errors() { return peer_.errorOutput(); }
    // The next request line, waited for (the client has acted already).
    QString nextCall() { return peer_.firstLine(); }

    ~FakeServices() { stopAndTakeCalls(); }

private:
    PeerProcess peer_;
};

QString Deactivated(int connection) {
    return QStringLiteral("DeactivateConnection ") + kActivePrefix + QString::number(connection);
}

struct SystemCompletionActionsOnBus : ::testing::Test {
    void SetUp() override {
        // Every case checks again that the bus it is about to use is the private one.
        ASSERT_FALSE(PrivateSystemBus::address.isEmpty()) << "the private bus did not start";
        ASSERT_EQ(QString::fromUtf8(qgetenv(kSystemBusVariable)), PrivateSystemBus::address);
    }
    SystemCompletionActions actions;
    FakeServices services;
};

}  // namespace

TEST_F(SystemCompletionActionsOnBus, IsThePrivateBusAndNeverTheMachines) {
    const QString variable = QString::fromUtf8(qgetenv(kSystemBusVariable));
    EXPECT_FALSE(variable.contains(kRealSystemBus));
    EXPECT_TRUE(variable.startsWith(QStringLiteral("unix:path=") + PrivateSystemBus::socket));
    EXPECT_NE(QFileInfo(PrivateSystemBus::socket).canonicalFilePath(),
              QFileInfo(kRealSystemBus).canonicalFilePath());
    EXPECT_TRUE(QFileInfo(PrivateSystemBus::socket).absolutePath().startsWith(QDir::tempPath()));

    // What Qt connects to as the system bus is served by the daemon these tests started.
    QDBusConnection bus = QDBusConnection::systemBus();
    ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
    const QDBusReply<uint> daemon =
        bus.interface()->servicePid(QStringLiteral("org.freedesktop.DBus"));
    ASSERT_TRUE(daemon.isValid()) << daemon.error().message().toStdString();
    EXPECT_EQ(daemon.value(), PrivateSystemBus::pid);
}

TEST_F(SystemCompletionActionsOnBus, HangUpDeactivatesOnlyTheModemAndPppConnections) {
    ASSERT_TRUE(services.start({QStringLiteral("gsm"), QStringLiteral("802-3-ethernet"),
                                QStringLiteral("802-11-wireless"), QStringLiteral("pppoe")}))
        << services.errors().constData();
    actions.hangUpDialUp();
    EXPECT_EQ(actions.lastError(), QString());
    EXPECT_EQ(services.stopAndTakeCalls(), QStringList({Deactivated(1), Deactivated(4)}));
}

TEST_F(SystemCompletionActionsOnBus, HangUpTellsDialUpKindsFromNetworks) {
    // Bluetooth is dial-up only with the DUN profile; PAN, VPNs, tunnels and loopback are
    // networks that other programs rely on.
    ASSERT_TRUE(services.start({QStringLiteral("cdma"), QStringLiteral("bluetooth:panu"),
                                QStringLiteral("vpn"), QStringLiteral("adsl"),
                                QStringLiteral("loopback"), QStringLiteral("bluetooth:dun"),
                                QStringLiteral("wireguard"), QStringLiteral("tun")}))
        << services.errors().constData();
    actions.hangUpDialUp();
    EXPECT_EQ(actions.lastError(), QString());
    EXPECT_EQ(services.stopAndTakeCalls(),
              QStringList({Deactivated(1), Deactivated(4), Deactivated(6)}));
}

TEST_F(SystemCompletionActionsOnBus, HangUpWithoutDialUpChangesNothing) {
    ASSERT_TRUE(
        services.start({QStringLiteral("802-3-ethernet"), QStringLiteral("802-11-wireless")}))
        << services.errors().constData();
    actions.hangUpDialUp();
    EXPECT_EQ(actions.lastError(), QString());
    EXPECT_EQ(services.stopAndTakeCalls(), QStringList());
}

TEST_F(SystemCompletionActionsOnBus, HangUpGoesOnPastAConnectionThatFails) {
    ASSERT_TRUE(services.start(
        {QStringLiteral("gsm:refuse"), QStringLiteral("gone"), QStringLiteral("pppoe")}))
        << services.errors().constData();
    actions.hangUpDialUp();
    EXPECT_EQ(services.stopAndTakeCalls(), QStringList({Deactivated(1), Deactivated(3)}));
    EXPECT_TRUE(actions.lastError().contains(kActivePrefix + QStringLiteral("1")))
        << actions.lastError().toStdString();
    EXPECT_TRUE(actions.lastError().contains(QStringLiteral("Device is busy")))
        << actions.lastError().toStdString();
    EXPECT_TRUE(actions.lastError().contains(kActivePrefix + QStringLiteral("2")))
        << actions.lastError().toStdString();
    EXPECT_FALSE(actions.lastError().contains(kActivePrefix + QStringLiteral("3")))
        << actions.lastError().toStdString();
}

TEST_F(SystemCompletionActionsOnBus, PowerOffAsksLogindOnceLettingPolkitAsk) {
    ASSERT_TRUE(services.start({QStringLiteral("gsm")})) << services.errors().constData();
    actions.powerOff();
    EXPECT_EQ(actions.lastError(), QString());
    EXPECT_EQ(services.stopAndTakeCalls(),
              QStringList({QStringLiteral("PowerOff true allow-interactive-authorization")}));
}

TEST_F(SystemCompletionActionsOnBus, PowerOffRefusedSaysSo) {
    ASSERT_TRUE(services.start({QStringLiteral("--deny-power-off")}))
        << services.errors().constData();
    actions.powerOff();
    EXPECT_EQ(services.stopAndTakeCalls(),
              QStringList({QStringLiteral("PowerOff true allow-interactive-authorization")}));
    EXPECT_TRUE(actions.lastError().contains(QStringLiteral("AccessDenied")))
        << actions.lastError().toStdString();
}

TEST_F(SystemCompletionActionsOnBus, WithoutTheServicesBothReturnAndSayWhy) {
    ASSERT_FALSE(NameOwned(QStringLiteral("org.freedesktop.NetworkManager")));
    ASSERT_FALSE(NameOwned(QStringLiteral("org.freedesktop.login1")));
    actions.hangUpDialUp();
    EXPECT_TRUE(actions.lastError().contains(QStringLiteral("NetworkManager")))
        << actions.lastError().toStdString();
    EXPECT_TRUE(actions.lastError().contains(QStringLiteral("ServiceUnknown")))
        << actions.lastError().toStdString();
    actions.powerOff();
    EXPECT_TRUE(actions.lastError().contains(QStringLiteral("login1")))
        << actions.lastError().toStdString();
    EXPECT_TRUE(actions.lastError().contains(QStringLiteral("ServiceUnknown")))
        << actions.lastError().toStdString();
}

// The server reads each request and never answers: each download waits for its first answer
// (and asks again) far longer than the case takes, and runs until paused.
TEST_F(SystemCompletionActionsOnBus, OneSleepLockWhileDownloadsRunWhenTheOptionSaysSo) {
    EngineRig engine;
    HttpFaultServer server;
    server.setMode(QStringLiteral("silent"));
    ASSERT_TRUE(server.start(engine.file(QStringLiteral("requests.log"))))
        << server.error().toStdString();
    NoSessionWindows windows;
    DownloadQueue queue{engine.ctx, windows};
    ScriptedAddPrompts prompts;
    StayAwake awake{queue, [&] { return engine.settings.StayAwake == FlagTrue; },
                    QStringLiteral("Downloads are running")};
    const auto start = [&](const QString& name) {
        AddRequest request;
        request.url = server.url(QStringLiteral("silent"), 1000, name);
        return AddDownload(engine.ctx, queue, prompts, request);
    };
    // No logind: the refusal is only logged, and the download goes on.
    start(QStringLiteral("a.bin"));
    // The bus's refusal comes within a turn or two of the event loop.
    WaitFor([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_FALSE(awake.asking() || awake.holding());
    EXPECT_EQ(queue.runningCount(), 1);
    queue.pauseall();

    // Each change is looked at at once below, as the queue's reports make it look a moment later.
    ASSERT_TRUE(services.start({})) << services.errors().constData();
    engine.settings.StayAwake = FlagFalse;
    const int first = start(QStringLiteral("b.bin"));
    awake.apply();
    EXPECT_FALSE(awake.asking()) << "the option is off";
    engine.settings.StayAwake = FlagTrue;
    awake.apply();  // the options were applied
    ASSERT_TRUE(WaitFor([&] { return awake.holding(); }));
    EXPECT_EQ(services.nextCall(),
              QStringLiteral("Inhibit 1 sleep Brenloft Downloads are running block"));
    const int second = start(QStringLiteral("c.bin"));
    awake.apply();
    queue.PauseSlot(first);
    awake.apply();
    EXPECT_TRUE(queue.runningCount() == 1 && awake.holding() && !awake.asking());
    queue.PauseSlot(second);
    ASSERT_TRUE(WaitFor([&] { return !awake.holding(); }));
    EXPECT_EQ(services.nextCall(), QStringLiteral("Released 1")) << "never a second lock";
}

namespace {

// Runs in the sandbox so that whatever the program does lands there, even when it goes wrong.
struct InSandbox {
    Sandbox box;
    QString previous = QDir::currentPath();
    InSandbox() { QDir::setCurrent(box.path()); }
    ~InSandbox() { QDir::setCurrent(previous); }
};

}  // namespace

TEST(SystemCompletionActions, StartsProgramsWithoutAShell) {
    InSandbox sandbox;
    SystemCompletionActions actions;
    // A name a shell would split and run as a second command must reach the program whole.
    const QString name = QStringLiteral("scanned file; touch injected");
    ASSERT_TRUE(actions.startDetached(QStringLiteral("touch"), {name}))
        << actions.lastError().toStdString();
    EXPECT_EQ(actions.lastError(), QString());
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(sandbox.box.file(name)); }));
    EXPECT_EQ(QDir(sandbox.box.path()).entryList(QDir::Files), QStringList({name}));

    EXPECT_FALSE(actions.startDetached(sandbox.box.file(QStringLiteral("no such program")), {}));
    EXPECT_FALSE(actions.lastError().isEmpty());
}
