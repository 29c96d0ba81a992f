#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

#include "core/types/unique_fd.h"
#include "net/winsock_errors.h"
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

// Real SOCKS servers: each row a connection through one of them, connected (the target's
// greeting kept for its owner) or refused with the reason. Where a name was looked up shows
// what was sent: the name to the server, or an address found here.
TEST_F(Socks, ThroughDanteAndMicrosocks) {
    enum Target { Served, ServedIPv6, Blocked, Closed };
    struct Row {
        const char* name;
        bool microsocks;
        int version;
        const char* user;
        const char* password;
        const char* host;
        Target target;
        bool remoteNames;
        bool lookedUpHere;
        const char* problem;  // empty: connected
    };
    const Row rows[] = {
        {"4, name looked up here", false, 4, "", "", "localhost", Served, true, true, ""},
        {"4, refused by rule", false, 4, "", "", "127.0.0.1", Blocked, true, false,
         "the SOCKS proxy refused: request rejected or failed"},
        {"5, name sent", false, 5, "", "", "localhost", Served, true, false, ""},
        {"5, IPv4", false, 5, "", "", "127.0.0.1", Served, true, false, ""},
        {"5, IPv6", false, 5, "", "", "::1", ServedIPv6, true, false, ""},
        {"5, name looked up here", false, 5, "", "", "localhost", Served, false, true, ""},
        {"5, refused by rule", false, 5, "", "", "127.0.0.1", Blocked, true, false,
         "the SOCKS proxy refused: connection not allowed by ruleset"},
        {"login", true, 5, "user", "secret", "127.0.0.1", Served, true, false, ""},
        {"wrong login", true, 5, "user", "guess", "127.0.0.1", Served, true, false,
         "the SOCKS proxy refused the login"},
        {"no login", true, 5, "", "", "127.0.0.1", Served, true, false,
         "the SOCKS proxy wants a login"},
        {"target refuses", true, 5, "user", "secret", "127.0.0.1", Closed, true, false,
         "the SOCKS proxy refused: connection refused"},
    };
    LoopbackServer greeter(QStringLiteral("hello"));
    UniqueFd v6{::socket(AF_INET6, SOCK_STREAM, 0)};
    sockaddr_in6 v6Address{AF_INET6, 0, 0, in6addr_loopback, 0};
    socklen_t length = sizeof v6Address;
    ASSERT_TRUE(::bind(v6.get(), reinterpret_cast<sockaddr*>(&v6Address), length) == 0 &&
                ::listen(v6.get(), 16) == 0 &&
                ::getsockname(v6.get(), reinterpret_cast<sockaddr*>(&v6Address), &length) == 0);
    const int ports[] = {greeter.port, ntohs(v6Address.sin6_port), FreeLoopbackPort(),
                         FreeLoopbackPort()};
    Dante dante;
    ASSERT_TRUE(dante.start(ports[Blocked])) << dante.peer.errorOutput().constData();
    PeerProcess microsocks;
    const int microsocksPort = FreeLoopbackPort();
    ASSERT_TRUE(microsocks.start(
        "/usr/bin/microsocks",
        {"-i", "127.0.0.1", "-p", QString::number(microsocksPort), "-u", "user", "-P", "secret"}));
    ASSERT_TRUE(
        WaitUntilServing(microsocks.pid(), [&] { return LoopbackPortAccepts(microsocksPort); }));
    auto asked = std::make_shared<QStringList>();
    sockets.setLookup([asked](const QString& name, int family) {
        *asked << name;                                            // one look-up at a time here
        return SystemLookup(QStringLiteral("127.0.0.1"), family);  // whatever the hosts file says
    });
    QByteArray danteLog;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        asked->clear();
        SocketClass socket(sockets);
        EventLog log;
        log.listen(socket);
        socket.SetSocks(SocksProxy{row.version, QStringLiteral("127.0.0.1"),
                                   row.microsocks ? microsocksPort : dante.port, row.user,
                                   row.password, row.remoteNames});
        socket.Connect(QString::fromLatin1(row.host), ports[row.target]);
        ASSERT_TRUE(WaitFor([&] { return !log.events.isEmpty(); }));
        ASSERT_TRUE(WaitFor([&] { return sockets.lookupsInFlight() == 0; }));
        EXPECT_EQ(asked->contains(QStringLiteral("localhost")), row.lookedUpHere);
        if (*row.problem != '\0') {
            EXPECT_EQ(log.events.first().value, WinSock::TunnelRefused);
            EXPECT_EQ(socket.TlsProblem(), QString::fromLatin1(row.problem));
            continue;
        }
        ASSERT_EQ(log.events.first().kind, QStringLiteral("connect"))
            << socket.TlsProblem().toStdString();
        if (row.target == Served) {
            EXPECT_TRUE(WaitFor([&] { return log.received == "hello\r\n"; }))
                << log.received.constData();
        }
        if (!row.microsocks && row.version == 5 && row.remoteNames && *row.host == 'l') {
            EXPECT_TRUE(WaitFor([&] {
                danteLog += dante.peer.errorOutput();
                return danteLog.contains("ATYP: 3 address: localhost.");
            }));
        }
    }
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

TEST_F(Socks, Socks5AnswersOfAHandMadeServer) {
    struct Row {
        const char* name;
        bool login;
        const char* method;  // hex; empty: the server closes instead
        const char* reply;   // hex, the greeting behind it; empty: no request expected
        const char* problem;
    };
    const Row rows[] = {
        {"granted, bound to IPv6", false, "0500", "05000004000000000000000000000000000000011f90",
         ""},
        {"host unreachable", false, "0500", "050400017f0000011f90",
         "the SOCKS proxy refused: host unreachable"},
        {"no method", true, "05ff", "",
         "the SOCKS proxy refused: no acceptable authentication method"},
        {"not SOCKS", false, "485454502f312e31", "", "the SOCKS proxy gave no SOCKS answer"},
        {"closes", false, "", "", "the SOCKS proxy closed the connection"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandMadeSocks server;
        ASSERT_TRUE(server.listen());
        SocketClass socket(sockets);
        EventLog log;
        log.listen(socket);
        socket.SetSocks(SocksProxy{5, QStringLiteral("127.0.0.1"), server.port,
                                   row.login ? QStringLiteral("u") : QString(),
                                   QStringLiteral("p")});
        socket.Connect(QStringLiteral("127.0.0.1"), 8080);
        const auto atLeast = [](qsizetype n) {
            return [n](const QByteArray& b) { return b.size() >= n; };
        };
        EXPECT_EQ(server.receive(atLeast(3)).toHex(), row.login ? "05020002" : "050100");
        if (*row.method == '\0') {
            server.peer.reset();
        } else {
            ASSERT_TRUE(server.send(QByteArray::fromHex(row.method)));
        }
        if (*row.reply != '\0') {
            EXPECT_EQ(server.receive(atLeast(10)).toHex(), "050100017f0000011f90");
            ASSERT_TRUE(server.send(QByteArray::fromHex(row.reply) + "220 ready\r\n"));
        }
        ASSERT_TRUE(WaitFor([&] { return !log.events.isEmpty(); }));
        if (*row.problem != '\0') {
            EXPECT_EQ(socket.TlsProblem(), QString::fromLatin1(row.problem));
            continue;
        }
        ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("data")); }));
        EXPECT_EQ(log.received, "220 ready\r\n");
    }
}
