// TLS under the socket object, against real servers on 127.0.0.1 with certificates the tests
// make themselves with the openssl command.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <memory>

#include "net/winsock_errors.h"
#include "tests/net/socket_test_support.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_files.h"

namespace {

Certificates* certificates = nullptr;

// One HTTP/1.0 request over a TLS socket object, with everything it heard.
struct TlsClient {
    SocketClass socket;
    EventLog log;
    TlsClient(VelmoraSockets& sockets, const QString& name, int port) : socket(sockets) {
        log.listen(socket);
        socket.SetTls(name);
        socket.Connect(QStringLiteral("127.0.0.1"), port);
    }
    bool settled() const {
        return log.has(QStringLiteral("connect")) || log.has(QStringLiteral("error"));
    }
    bool ended() const {
        return log.has(QStringLiteral("closed")) || log.has(QStringLiteral("error"));
    }
    void get(const QString& path) {
        socket.SendData("GET " + path.toLatin1() + " HTTP/1.0\r\nHost: localhost\r\n\r\n");
    }
    QByteArray body() const { return log.received.mid(log.received.indexOf("\r\n\r\n") + 4); }
};

struct Tls : ::testing::Test {
    VelmoraSockets sockets;
    Sandbox served;
    std::unique_ptr<NginxPeer> nginx;

    static void SetUpTestSuite() {
        certificates = new Certificates;
        if (!certificates->make()) {
            ADD_FAILURE() << certificates->problem.toStdString();
        }
    }
    static void TearDownTestSuite() {
        delete certificates;
        certificates = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(certificates->problem.isEmpty());
        sockets.StartSockets();
        sockets.setTlsCaFile(certificates->file(QStringLiteral("ca.pem")));
    }
    void TearDown() override { sockets.StopSockets(); }

    // The Python server of the odd cases; its port, or 0 when it did not start.
    static int startTestServer(PeerProcess& server, const QString& mode, qsizetype bytes) {
        if (!server.start(QStringLiteral("/usr/bin/python3"),
                          {SourcePath(QStringLiteral("tests/net/tls_test_server.py")),
                           certificates->file("good.pem"), certificates->file("server.key"), mode,
                           QString::number(bytes)})) {
            return 0;
        }
        return server.firstLine().toInt();
    }

    void serve(const QString& certificate) {
        nginx = std::make_unique<NginxPeer>(served.path());
        nginx->setTls(certificates->file(certificate), certificates->file("server.key"));
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
    }
};

struct CertificateCase {
    const char* what;
    const char* certificate;
    const char* serverName;
    enum { CaFile, NoCaFile, TrustFor127, VerifyOff } settings;
    const char* problem;  // empty: accepted
};

const CertificateCase CertificateCases[] = {
    {"good, by address", "good.pem", "127.0.0.1", CertificateCase::CaFile, ""},
    {"good, by name", "good.pem", "localhost", CertificateCase::CaFile, ""},
    {"good, CA unknown", "good.pem", "127.0.0.1", CertificateCase::NoCaFile,
     "The certificate of 127.0.0.1 was issued by an unknown authority"},
    {"expired", "expired.pem", "127.0.0.1", CertificateCase::CaFile,
     "The certificate of 127.0.0.1 has expired"},
    {"not yet valid", "future.pem", "localhost", CertificateCase::CaFile,
     "The certificate of localhost is not valid yet"},
    {"wrong address", "wrong-host.pem", "127.0.0.1", CertificateCase::CaFile,
     "The certificate presented by 127.0.0.1 is for another host name"},
    {"wrong name", "wrong-host.pem", "localhost", CertificateCase::CaFile,
     "The certificate presented by localhost is for another host name"},
    {"self-signed", "self-signed.pem", "127.0.0.1", CertificateCase::CaFile,
     "The certificate of 127.0.0.1 is self-signed"},
    {"unknown CA", "unknown-ca.pem", "localhost", CertificateCase::CaFile,
     "The certificate of localhost was issued by an unknown authority"},
    {"trusted fingerprint, its host", "self-signed.pem", "127.0.0.1", CertificateCase::TrustFor127,
     ""},
    {"trusted fingerprint, another host", "self-signed.pem", "localhost",
     CertificateCase::TrustFor127, "The certificate of localhost is self-signed"},
    {"verification off", "expired.pem", "localhost", CertificateCase::VerifyOff, ""},
};

}  // namespace

TEST_F(Tls, CertificatesAreCheckedAndTheirProblemsNamed) {
    WriteFile(served.file(QStringLiteral("small.txt")), "over TLS\n");
    for (const CertificateCase& c : CertificateCases) {
        SCOPED_TRACE(c.what);
        serve(QString::fromLatin1(c.certificate));
        const QByteArray print = certificates->fingerprint(QString::fromLatin1(c.certificate));
        switch (c.settings) {
            case CertificateCase::NoCaFile:
                sockets.setTlsCaFile(QString());
                break;
            case CertificateCase::TrustFor127:
                sockets.setTlsTrusted({{QStringLiteral("127.0.0.1"), QByteArray::fromHex(print)}});
                break;
            case CertificateCase::VerifyOff:
                sockets.setTlsVerify(false);
                break;
            case CertificateCase::CaFile:
                break;
        }
        TlsClient client(sockets, QString::fromLatin1(c.serverName), nginx->port());
        ASSERT_TRUE(WaitFor([&] { return client.settled(); }));
        EXPECT_EQ(client.socket.TlsPeerFingerprint().toHex(), print);
        if (*c.problem != 0) {
            ASSERT_EQ(client.log.events.first().kind, QStringLiteral("error"));
            EXPECT_EQ(client.log.events.first().value, WinSock::TlsFailed);
            EXPECT_EQ(client.socket.TlsProblem(), QString::fromLatin1(c.problem));
            client.socket.CloseSocket();  // the error handler's close leaves the reason
            EXPECT_EQ(client.socket.TlsProblem(), QString::fromLatin1(c.problem));
            EXPECT_EQ(client.socket.TlsPeerFingerprint().toHex(), print);
        } else {
            ASSERT_EQ(client.log.events.first().kind, QStringLiteral("connect"))
                << client.socket.TlsProblem().toStdString();
            client.get(QStringLiteral("/small.txt"));
            ASSERT_TRUE(WaitFor([&] { return client.ended(); }));
            EXPECT_EQ(client.body(), "over TLS\n");
            EXPECT_EQ(client.log.events.last().kind, QStringLiteral("closed"));
            EXPECT_TRUE(client.socket.TlsClosedCleanly());
            EXPECT_TRUE(client.socket.TlsProblem().isEmpty());
        }
        // Back to the defaults for the next case.
        sockets.setTlsVerify(true);
        sockets.setTlsTrusted({});
        sockets.setTlsCaFile(certificates->file(QStringLiteral("ca.pem")));
    }
}

TEST_F(Tls, FilesArriveWholeAndSessionsAreResumedPerHost) {
    const QByteArray big = RandomBytes(3 * 1024 * 1024 + 17);
    WriteFile(served.file(QStringLiteral("big.bin")), big);
    serve(QStringLiteral("good.pem"));
    // The first connection gets the session (TLS 1.3 sends it after the handshake); the seven
    // after it, all at once, resume it.
    auto first = std::make_unique<TlsClient>(sockets, QStringLiteral("localhost"), nginx->port());
    ASSERT_TRUE(WaitFor([&] { return first->settled(); }));
    first->get(QStringLiteral("/big.bin"));
    ASSERT_TRUE(WaitFor([&] { return first->ended(); }, std::chrono::seconds(60)));
    EXPECT_EQ(first->body(), big);
    std::vector<std::unique_ptr<TlsClient>> more;
    for (int i = 0; i < 7; ++i) {
        more.push_back(
            std::make_unique<TlsClient>(sockets, QStringLiteral("localhost"), nginx->port()));
    }
    ASSERT_TRUE(WaitFor([&] {
        return std::all_of(more.begin(), more.end(), [](const auto& c) { return c->settled(); });
    }));
    for (auto& c : more) {
        ASSERT_EQ(c->log.events.first().kind, QStringLiteral("connect"));
        c->get(QStringLiteral("/big.bin"));
    }
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::all_of(more.begin(), more.end(), [](const auto& c) { return c->ended(); });
        },
        std::chrono::seconds(120)));
    for (auto& c : more) {
        EXPECT_EQ(c->log.events.last().kind, QStringLiteral("closed"));
        EXPECT_TRUE(c->body() == big);
    }
    EXPECT_EQ(sockets.tlsFullHandshakes(), 1);
    EXPECT_EQ(sockets.tlsResumedHandshakes(), 7);
    const QStringList lines = nginx->tlsLog();
    ASSERT_EQ(lines.size(), 8);
    EXPECT_TRUE(lines.first().startsWith(u'.'));
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^r "))).size(), 7);
    // New settings, new rules: no session made under the old ones is resumed.
    sockets.setTlsCaFile(certificates->file(QStringLiteral("ca.pem")));
    TlsClient after(sockets, QStringLiteral("localhost"), nginx->port());
    ASSERT_TRUE(WaitFor([&] { return after.settled(); }));
    EXPECT_EQ(sockets.tlsFullHandshakes(), 2);
}

TEST_F(Tls, TheSpeedLimiterGovernsWhatTlsHandsOver) {
    std::int32_t now = 1000000;
    sockets.setLimits({true, 10240});
    sockets.setTickSource([&] { return now; });
    WriteFile(served.file(QStringLiteral("big.bin")), RandomBytes(1024 * 1024));
    serve(QStringLiteral("good.pem"));
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, [&] { sockets.PumpSockets(); });
    pump.start(20);
    TlsClient client(sockets, QStringLiteral("127.0.0.1"), nginx->port());
    ASSERT_TRUE(WaitFor([&] { return client.settled(); }));
    ASSERT_EQ(client.log.events.first().kind, QStringLiteral("connect"));
    sockets.entry(client.socket.SocketIndex)->RateLimited = 1;
    client.get(QStringLiteral("/big.bin"));
    // The first limited read counts as 10 ms: 102 bytes; the clock stands still after it, so
    // nothing more may come however much TLS has decrypted already.
    ASSERT_TRUE(WaitFor([&] { return client.log.has(QStringLiteral("data")); }));
    WaitFor([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(client.log.received.size(), 102);
    now += 500;
    ASSERT_TRUE(WaitFor([&] { return client.log.received.size() >= 102 + 5120; }));
    WaitFor([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(client.log.received.size(), 102 + 5120);
}

TEST_F(Tls, ACloseWithoutCloseNotifyIsAClosedButNotACleanOne) {
    PeerProcess server;
    const int port = startTestServer(server, QStringLiteral("truncate"), 100000);
    ASSERT_GT(port, 0);
    TlsClient client(sockets, QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(WaitFor([&] { return client.settled(); }));
    ASSERT_EQ(client.log.events.first().kind, QStringLiteral("connect"));
    client.get(QStringLiteral("/"));
    ASSERT_TRUE(WaitFor([&] { return client.ended(); }));
    EXPECT_EQ(client.log.events.last().kind, QStringLiteral("closed"));
    EXPECT_EQ(client.body(), QByteArray(100000, 'x'));
    EXPECT_FALSE(client.socket.TlsClosedCleanly());
}

TEST_F(Tls, LargeSendsGoOutInPiecesWhileTheAnswerComesIn) {
    const QByteArray data = RandomBytes(3 * 1024 * 1024 + 5);
    PeerProcess server;
    const int port = startTestServer(server, QStringLiteral("echo"), data.size());
    ASSERT_GT(port, 0);
    TlsClient client(sockets, QStringLiteral("localhost"), port);
    ASSERT_TRUE(WaitFor([&] { return client.settled(); }));
    ASSERT_EQ(client.log.events.first().kind, QStringLiteral("connect"));
    client.socket.SendData(data);
    ASSERT_TRUE(WaitFor([&] { return client.ended(); }, std::chrono::seconds(60)));
    EXPECT_EQ(client.log.events.last().kind, QStringLiteral("closed"));
    EXPECT_TRUE(client.log.received == data);
    EXPECT_TRUE(client.socket.TlsClosedCleanly());
}

TEST_F(Tls, TlsGoesThroughSocks) {
    WriteFile(served.file(QStringLiteral("small.txt")), "through SOCKS\n");
    serve(QStringLiteral("good.pem"));
    Dante dante;
    ASSERT_TRUE(dante.start(FreeLoopbackPort()));
    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.SetSocks(SocksProxy{4, QStringLiteral("127.0.0.1"), dante.port});
    socket.SetTls(QStringLiteral("localhost"));
    socket.Connect(QStringLiteral("127.0.0.1"), nginx->port());
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("connect")) || log.has("error"); }));
    ASSERT_EQ(log.events.first().kind, QStringLiteral("connect"))
        << socket.TlsProblem().toStdString();
    socket.SendData("GET /small.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("closed")); }));
    EXPECT_TRUE(log.received.endsWith("\r\n\r\nthrough SOCKS\n"));
}

TEST_F(Tls, AServerOfOnlyOldProtocolsIsRefusedAsSuch) {
    // Debian's OpenSSL still speaks TLS 1.0 when asked for it at security level 0.
    const int port = FreeLoopbackPort();
    PeerProcess server;
    ASSERT_TRUE(
        server.start(QStringLiteral("openssl"),
                     {"s_server", "-accept", QStringLiteral("127.0.0.1:%1").arg(port), "-cert",
                      certificates->file("good.pem"), "-key", certificates->file("server.key"),
                      "-tls1", "-cipher", "DEFAULT:@SECLEVEL=0"}));
    ASSERT_TRUE(WaitUntilServing(server.pid(), [&] { return LoopbackPortAccepts(port); }))
        << server.errorOutput().toStdString();
    TlsClient client(sockets, QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(WaitFor([&] { return client.settled(); }));
    ASSERT_EQ(client.log.events.first().kind, QStringLiteral("error"));
    EXPECT_EQ(client.log.events.first().value, WinSock::TlsFailed);
    EXPECT_EQ(
        client.socket.TlsProblem(),
        QStringLiteral(
            "127.0.0.1 offers only a TLS protocol version too old to be safe (before TLS 1.2)"));
}
