#include <gtest/gtest.h>

#include "net/winsock_errors.h"
#include "tests/net/socket_test_support.h"

namespace {

struct Sockets : ::testing::Test {
    VelmoraSockets sockets;
    LoopbackServer server;
    void SetUp() override {
        sockets.StartSockets();
        ASSERT_GT(server.port, 0);
    }
    void TearDown() override { sockets.StopSockets(); }
};

}  // namespace

TEST_F(Sockets, ReceivesEverythingThenTheOrderlyClose) {
    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("connect")); }));
    EXPECT_EQ(log.events.first().socket, nullptr);  // own connection: empty socket
    const qsizetype size = 8 * 1024 * 1024 + 13;
    socket.SendData(QByteArray("SEND ") + QByteArray::number(size) + "\nCLOSE\n");
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("closed")); }));
    EXPECT_EQ(log.received.size(), size);
    EXPECT_TRUE(IsPattern(log.received));
    EXPECT_EQ(log.events.last().kind, QStringLiteral("closed"));
    EXPECT_FALSE(log.has(QStringLiteral("error")));
    std::int64_t reported = 0;
    for (const auto& e : log.events) {
        reported += e.kind == QStringLiteral("data") ? e.value : 0;
    }
    EXPECT_EQ(reported, size);
    EXPECT_EQ(sockets.entry(socket.SocketIndex)->State, EntryState::Idle);
}

TEST_F(Sockets, DataAccumulatesUntilTakenAndIsTakenOnce) {
    SocketClass socket(sockets);
    EventLog log;
    log.drain = false;
    log.listen(socket);
    socket.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("connect")); }));
    socket.SendData("SEND 300000\nCLOSE\n");
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("closed")); }));
    EXPECT_GT(log.count(QStringLiteral("data")), 1);
    const QByteArray all = socket.GetData();
    EXPECT_EQ(all.size(), 300000);
    EXPECT_TRUE(IsPattern(all));
    EXPECT_TRUE(socket.GetData().isEmpty());
}

TEST_F(Sockets, ResetIsAnErrorAndNeverAClose) {
    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("connect")); }));
    socket.SendData("SEND 1000\nRESET\n");
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("error")); }));
    WaitFor([] { return false; }, std::chrono::milliseconds(200));  // nothing more may follow
    EXPECT_EQ(log.count(QStringLiteral("error")), 1);
    EXPECT_FALSE(log.has(QStringLiteral("closed")));
    EXPECT_EQ(log.events.last().value, WinSock::ConnectionReset);
    EXPECT_EQ(sockets.entry(socket.SocketIndex)->State, EntryState::Failed);
}

TEST_F(Sockets, RefusedAndUnresolvableConnectsFail) {
    SocketClass refused(sockets);
    EventLog refusedLog;
    refusedLog.listen(refused);
    refused.Connect(QStringLiteral("127.0.0.1"), FreeLoopbackPort());
    ASSERT_TRUE(WaitFor([&] { return refusedLog.has(QStringLiteral("error")); }));
    EXPECT_EQ(refusedLog.events.first().value, WinSock::ConnectionRefused);
    EXPECT_FALSE(refusedLog.has(QStringLiteral("connect")));

    // A label over 63 characters fails in the resolver itself, without asking any server.
    SocketClass unknown(sockets);
    EventLog unknownLog;
    unknownLog.listen(unknown);
    unknown.Connect(QString(64, u'x') + QStringLiteral(".invalid"), 80);
    EXPECT_EQ(unknownLog.count(QStringLiteral("error")), 2);  // both before Connect returns
    EXPECT_EQ(unknownLog.events.first().value, WinSock::AddressNotAvailable);
    EXPECT_EQ(unknownLog.events.last().value, WinSock::AddressNotAvailable);
    EXPECT_EQ(sockets.entry(unknown.SocketIndex)->State, EntryState::Failed);
    WaitFor([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(unknownLog.events.size(), 2);
}

TEST_F(Sockets, SlotsAreReusedLowestFirstAndTheTableGrowsByOne) {
    auto a = std::make_unique<SocketClass>(sockets);
    auto b = std::make_unique<SocketClass>(sockets);
    auto c = std::make_unique<SocketClass>(sockets);
    EXPECT_EQ(a->SocketIndex, 1);
    EXPECT_EQ(b->SocketIndex, 2);
    EXPECT_EQ(c->SocketIndex, 3);
    b->ShutDown();
    a.reset();  // destroying an object shuts it down too
    SocketClass d(sockets);
    EXPECT_EQ(d.SocketIndex, 1);
    SocketClass e(sockets);
    EXPECT_EQ(e.SocketIndex, 2);
    EXPECT_EQ(sockets.count(), 3);
    SocketClass f(sockets);
    EXPECT_EQ(f.SocketIndex, 4);
    EXPECT_EQ(sockets.count(), 4);
}

TEST_F(Sockets, CloseThenConnectKeepsTheIndexWithANewSocket) {
    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    const int index = socket.SocketIndex;
    socket.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return log.count(QStringLiteral("connect")) == 1; }));
    socket.CloseSocket();
    EXPECT_FALSE(sockets.entry(index)->Handle.valid());
    EXPECT_EQ(sockets.entry(index)->InUse, -1);
    socket.Connect(QStringLiteral("127.0.0.1"), server.port);
    EXPECT_EQ(socket.SocketIndex, index);
    EXPECT_TRUE(sockets.entry(index)->Handle.valid());
    ASSERT_TRUE(WaitFor([&] { return log.count(QStringLiteral("connect")) == 2; }));
    socket.SendData("SEND 10\nCLOSE\n");
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("closed")); }));
    EXPECT_EQ(log.received.size(), 10);
}

TEST_F(Sockets, SegmentsReportThroughTheirSharedTarget) {
    SocketClass target(sockets);
    SocketClass first(sockets);
    SocketClass second(sockets);
    first.SetEventSocket(&target);
    second.SetEventSocket(&target);
    EventLog log;
    log.listen(target);
    EventLog direct;
    direct.listen(first);  // nothing reaches an object that forwards

    target.Connect(QStringLiteral("127.0.0.1"), server.port);
    first.Connect(QStringLiteral("127.0.0.1"), server.port);
    second.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return log.count(QStringLiteral("connect")) == 3; }));
    first.SendData("SEND 1000\nCLOSE\n");
    second.SendData("SEND 2000\nCLOSE\n");
    target.SendData("SEND 3000\nCLOSE\n");
    ASSERT_TRUE(WaitFor([&] { return log.count(QStringLiteral("closed")) == 3; }));

    std::map<SocketClass*, std::int64_t> bytes;
    for (const auto& e : log.events) {
        if (e.kind == QStringLiteral("data")) {
            bytes[e.socket] += e.value;
        }
    }
    EXPECT_EQ(bytes[&first], 1000);
    EXPECT_EQ(bytes[&second], 2000);
    EXPECT_EQ(bytes[nullptr], 3000);  // the target's own connection
    EXPECT_TRUE(direct.events.isEmpty());
}

TEST_F(Sockets, HandlersMayCloseOrReplaceTheConnectionThatReported) {
    SocketClass socket(sockets);
    int data = 0;
    int connects = 0;
    QObject::connect(&socket, &SocketClass::ConnectEvent, [&](SocketClass*) {
        if (++connects == 1) {
            socket.SendData("SEND 5000000\n");
        }
    });
    QObject::connect(&socket, &SocketClass::DataReceivedEvent, [&](SocketClass*, std::int32_t) {
        // The first piece ends this connection and starts another from inside the handler.
        if (++data == 1) {
            socket.GetData();
            socket.CloseSocket();
            socket.Connect(QStringLiteral("127.0.0.1"), server.port);
        }
    });
    socket.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return connects == 2; }));
    EXPECT_EQ(data, 1);
    bool closed = false;
    QObject::connect(&socket, &SocketClass::ClosedEvent, [&](SocketClass*) { closed = true; });
    socket.SendData("SEND 7\nCLOSE\n");
    ASSERT_TRUE(WaitFor([&] { return closed; }));
    EXPECT_EQ(socket.GetData(), QByteArray::fromHex("00010203040506"));
}
