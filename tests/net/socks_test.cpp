#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

#include "tests/net/socket_test_support.h"

namespace {

// dante as a real SOCKS4 server on loopback: it lets connections to loopback through, but
// none to `blockedPort`.
struct Dante {
    Sandbox box;
    PeerProcess peer;
    int port = FreeLoopbackPort();

    bool start(int blockedPort) {
        QFile config(box.file(QStringLiteral("danted.conf")));
        if (!config.open(QIODevice::WriteOnly)) {
            return false;
        }
        config.write(QStringLiteral("logoutput: stderr\n"
                                    "internal: 127.0.0.1 port = %1\n"
                                    "external: 127.0.0.1\n"
                                    "clientmethod: none\n"
                                    "socksmethod: none\n"
                                    "user.privileged: root\n"
                                    "user.unprivileged: nobody\n"
                                    "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                    "socks block { from: 0.0.0.0/0 to: 127.0.0.1/32 port = %2 }\n"
                                    "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 "
                                    "command: connect }\n")
                         .arg(port)
                         .arg(blockedPort)
                         .toUtf8());
        config.close();
        if (!peer.start(
                QStringLiteral("/usr/sbin/danted"),
                {QStringLiteral("-f"), config.fileName(), QStringLiteral("-N"), QStringLiteral("1"),
                 QStringLiteral("-p"), box.file(QStringLiteral("danted.pid"))})) {
            return false;
        }
        return WaitFor([&] { return LoopbackPortAccepts(port); });
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
    socket.SetSocks(4, QStringLiteral("127.0.0.1"), dante.port);
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
    refused.SetSocks(4, QStringLiteral("127.0.0.1"), dante.port);
    refused.Connect(QStringLiteral("127.0.0.1"), blocked);
    ASSERT_TRUE(WaitFor([&] { return refusedLog.has(QStringLiteral("error")); }));
    EXPECT_EQ(refusedLog.events.first().value, 0);
    EXPECT_EQ(refused.GetLastError(), 0);
    EXPECT_FALSE(refusedLog.has(QStringLiteral("connect")));
}

TEST_F(Socks, RequestBytesAndAReplyThatComesInPieces) {
    // A listener of the test's own plays the SOCKS server, to see the request and to answer
    // one byte first, then the rest of the grant with the target's greeting right behind it.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.SetSocks(4, QStringLiteral("127.0.0.1"), ntohs(address.sin_port));
    socket.Connect(QStringLiteral("127.0.0.1"), 8080);
    int peer = -1;
    ASSERT_TRUE(WaitFor([&] { return (peer = ::accept(listener, nullptr, nullptr)) >= 0; }));
    QByteArray request;
    ASSERT_TRUE(WaitFor([&] {
        char buffer[16];
        const ssize_t n = ::recv(peer, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n > 0) {
            request.append(buffer, n);
        }
        return request.size() >= 9;
    }));
    EXPECT_EQ(request.toHex(), "04011f907f00000100");

    ASSERT_EQ(::send(peer, "\x00", 1, 0), 1);
    WaitFor([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(log.events.isEmpty());  // one byte is no verdict yet
    const QByteArray rest = QByteArray("\x5a\x1f\x90\x7f\x00\x00\x01", 7) + "220 ready\r\n";
    ASSERT_EQ(::send(peer, rest.constData(), size_t(rest.size()), 0), rest.size());
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("data")); }));
    EXPECT_EQ(log.events.first().kind, QStringLiteral("connect"));
    EXPECT_EQ(log.received, QByteArray("220 ready\r\n"));
    ::close(peer);
    ::close(listener);
}
