// The HTTP proxy tunnel of a socket against a proxy played by the test: the request it sends,
// an answer that comes in pieces with the target's first bytes behind it, and the ways a proxy
// can fail to open the tunnel, each an error naming the proxy.
#include <gtest/gtest.h>

#include "net/winsock_errors.h"
#include "tests/net/socket_test_support.h"
#include "tests/support/proxy_peer.h"

namespace {

struct Case {
    const char* name;
    bool tls;
    QList<QByteArray> answer;  // sent in these pieces, one after another
    bool close;                // the proxy closes after answering
    const char* problem;       // empty: the tunnel opens; else %1 the proxy, %2 the target
};

}  // namespace

TEST(HttpTunnel, RequestAnswerInPiecesAndRefusals) {
    const Case cases[] = {
        {"open, with the target's greeting behind the answer",
         false,
         {"HTTP/1.1 2", "00 Connection established\r\nVia: 1.1 p\r", "\n\r\n220 ready\r\n"},
         false,
         ""},
        {"refused",
         true,
         {"HTTP/1.1 403 Forbidden\r\n\r\n"},
         false,
         "The proxy %1 refused the tunnel to %2: HTTP/1.1 403 Forbidden"},
        {"a login wanted",
         true,
         {"HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n"},
         false,
         "The proxy %1 asks for a login to open the tunnel to %2"},
        {"closed without an answer",
         true,
         {"HTTP/1.1 200 OK\r\n"},
         true,
         "The proxy %1 closed the connection instead of opening the tunnel to %2"},
        {"no HTTP at all",
         true,
         {"SSH-2.0-OpenSSH_9.2\r\n"},
         false,
         "The proxy %1 gave no HTTP answer to the request for a tunnel to %2"},
        {"bytes of its own ahead of TLS",
         true,
         {"HTTP/1.1 200 OK\r\n\r\n\x16\x03\x03"},
         false,
         "The proxy %1 sent data of its own into the tunnel to %2"},
    };
    VelmoraSockets sockets;
    sockets.StartSockets();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandMadePeer proxy;
        ASSERT_TRUE(proxy.listen());
        SocketClass socket(sockets);
        EventLog log;
        log.listen(socket);
        if (c.tls) {
            socket.SetTls(QStringLiteral("target.test"));
        }
        socket.SetHttpTunnel(QStringLiteral("127.0.0.1"), proxy.port);
        socket.Connect(QStringLiteral("target.test"), 8443);
        // No look-up of the target here: the proxy is given its name.
        EXPECT_EQ(proxy.receive([](const QByteArray& b) { return b.endsWith("\r\n\r\n"); }),
                  "CONNECT target.test:8443 HTTP/1.1\r\nHost: target.test:8443\r\n"
                  "User-Agent: Brenloft/1\r\n\r\n");
        EXPECT_EQ(sockets.lookupsInFlight(), 0);
        for (const QByteArray& piece : c.answer) {
            ASSERT_TRUE(proxy.send(piece));
            WaitFor([] { return false; }, std::chrono::milliseconds(50));
            if (&piece != &c.answer.back()) {
                EXPECT_TRUE(log.events.isEmpty()) << "no verdict on part of an answer";
            }
        }
        if (c.close) {
            proxy.peer.reset();
        }
        ASSERT_TRUE(WaitFor([&] { return !log.events.isEmpty(); }));
        if (*c.problem == '\0') {
            ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("data")); }));
            EXPECT_EQ(log.events.first().kind, QStringLiteral("connect"));
            EXPECT_EQ(log.received, QByteArray("220 ready\r\n"));
            EXPECT_TRUE(socket.TlsProblem().isEmpty());
            continue;
        }
        ASSERT_EQ(log.events.size(), 1);
        EXPECT_EQ(log.events.first().kind, QStringLiteral("error"));
        EXPECT_EQ(log.events.first().value, WinSock::TunnelRefused);
        EXPECT_EQ(socket.TlsProblem(),
                  QString::fromLatin1(c.problem).arg(QStringLiteral("127.0.0.1:%1").arg(proxy.port),
                                                     QStringLiteral("target.test:8443")));
        EXPECT_TRUE(socket.GetData().isEmpty()) << "the proxy's bytes are not the target's";
    }
}

// tinyproxy wanting a login: asked without one, with a wrong one, and with the right one, sent
// only after its 407, on a new connection.
TEST(HttpTunnel, LoginsAtTinyproxy) {
    const char* const rows[][3] = {
        {"", "", "The proxy %1 asks for a login to open the tunnel to %2"},
        {"user", "guess", "The proxy %1 refused the login for the tunnel to %2"},
        {"user", "secret", ""},
    };
    ProxyPeer proxy;
    proxy.requireLogin(QStringLiteral("user"), QStringLiteral("secret"));
    ASSERT_TRUE(proxy.start()) << proxy.error().toStdString();
    LoopbackServer target(QStringLiteral("hello"));
    VelmoraSockets sockets;
    sockets.StartSockets();
    for (const auto& [user, password, problem] : rows) {
        SCOPED_TRACE(password);
        SocketClass socket(sockets);
        EventLog log;
        log.listen(socket);
        socket.SetHttpTunnel(QStringLiteral("127.0.0.1"), proxy.port(), user, password);
        socket.Connect(QStringLiteral("127.0.0.1"), target.port);
        ASSERT_TRUE(WaitFor([&] { return !log.events.isEmpty(); }));
        if (*problem == '\0') {
            EXPECT_TRUE(WaitFor([&] { return log.received == "hello\r\n"; }))
                << socket.TlsProblem().toStdString();
            continue;
        }
        EXPECT_EQ(socket.TlsProblem().toStdString(),
                  QString::fromLatin1(problem)
                      .arg(proxy.address(), QStringLiteral("127.0.0.1:%1").arg(target.port))
                      .toStdString());
    }
}
