#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

#include "core/types/unique_fd.h"
#include "tests/net/socket_test_support.h"

namespace {

// The SOCKS server played by the test, to see the request and to answer it in whatever pieces
// the test chooses.
struct HandMadeSocks : HandMadePeer {
    // Accepts the connection and reads the nine bytes of a SOCKS4 request without a user name.
    QByteArray request() {
        return receive([](const QByteArray& bytes) { return bytes.size() >= 9; });
    }
};

struct Socks : ::testing::Test {
    VelmoraSockets sockets;
    LoopbackServer server;
    void SetUp() override {
        sockets.StartSockets();
        ASSERT_GT(server.port, 0);
    }
};

}  // namespace

TEST_F(Socks, ConnectionsGoThroughDanteAndRefusalsAreErrorZero) {
    const int blocked = FreeLoopbackPort();
    Dante dante;
    ASSERT_TRUE(dante.start(blocked)) << dante.peer.errorOutput().constData();

    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.SetSocks(SocksProxy{4, QStringLiteral("127.0.0.1"), dante.port});
    socket.Connect(QStringLiteral("localhost"), server.port);  // resolved here, not by dante
    ASSERT_TRUE(WaitFor(
        [&] { return log.has(QStringLiteral("connect")) || log.has(QStringLiteral("error")); }));
    ASSERT_TRUE(log.has(QStringLiteral("connect"))) << log.events.first().value;
    EXPECT_FALSE(sockets.entry(socket.SocketIndex)->UseSocks);  // asked for again next time
    socket.SendData("SEND 100000\nCLOSE\n");
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("closed")); }));
    EXPECT_EQ(log.received.size(), 100000);
    EXPECT_TRUE(IsPattern(log.received));

    SocketClass refused(sockets);
    EventLog refusedLog;
    refusedLog.listen(refused);
    refused.SetSocks(SocksProxy{4, QStringLiteral("127.0.0.1"), dante.port});
    refused.Connect(QStringLiteral("127.0.0.1"), blocked);
    ASSERT_TRUE(WaitFor([&] { return refusedLog.has(QStringLiteral("error")); }));
    EXPECT_EQ(refusedLog.events.first().value, 0);
    EXPECT_FALSE(refusedLog.has(QStringLiteral("connect")));
}

TEST_F(Socks, RequestBytesAndAReplyThatComesInPieces) {
    // One byte of the reply first, then the rest of the grant with the target's greeting right
    // behind it.
    HandMadeSocks server;
    ASSERT_TRUE(server.listen());

    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.SetSocks(SocksProxy{4, QStringLiteral("127.0.0.1"), server.port});
    socket.Connect(QStringLiteral("127.0.0.1"), 8080);
    EXPECT_EQ(server.request().toHex(), "04011f907f00000100");

    ASSERT_TRUE(server.send(QByteArray(1, '\0')));
    WaitFor([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(log.events.isEmpty());  // one byte is no verdict yet
    const QByteArray rest = QByteArray("\x5a\x1f\x90\x7f\x00\x00\x01", 7) + "220 ready\r\n";
    ASSERT_TRUE(server.send(rest));
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("data")); }));
    EXPECT_EQ(log.events.first().kind, QStringLiteral("connect"));
    EXPECT_EQ(log.received, QByteArray("220 ready\r\n"));
}

TEST_F(Socks, TargetNamesAreLookedUpHereOffTheEventLoop) {
    // Only the target's name reaches the look-up: the server is given by address.
    auto asked = std::make_shared<QStringList>();
    sockets.setLookup([asked](const QString& name, int) {
        *asked << name;  // one look-up at a time here: no other thread touches the list
        HostAddresses found;
        found.addresses.resize(1);
        auto& v4 = reinterpret_cast<sockaddr_in&>(found.addresses[0]);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
        return found;
    });
    HandMadeSocks server;
    ASSERT_TRUE(server.listen());
    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.SetSocks(SocksProxy{4, QStringLiteral("127.0.0.1"), server.port});
    socket.Connect(QStringLiteral("target.test"), 8080);
    EXPECT_EQ(server.request().toHex(), "04011f907f00000200");
    ASSERT_TRUE(WaitFor([&] { return sockets.lookupsInFlight() == 0; }));
    EXPECT_EQ(*asked, QStringList{QStringLiteral("target.test")});
    ASSERT_TRUE(server.send(QByteArray("\x00\x5a\x1f\x90\x7f\x00\x00\x02", 8)));
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("connect")); }));
    EXPECT_FALSE(log.has(QStringLiteral("error")));
}
