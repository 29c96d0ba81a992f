// Downloads along proxy routes, end to end against real peers on loopback: tinyproxy (full
// addresses, CONNECT tunnels, ftp:// fetched as HTTP, its login) and dante (SOCKS4, SOCKS5;
// FTP's passive data connections through it too).
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include "engine/http/proxy_route.h"
#include "engine/session/failure_words.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/ftp_peers.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/proxy_peer.h"
#include "tests/support/test_certificates.h"

using namespace session_test;

namespace {

// dante for SOCKS4 and SOCKS5 without a login, logging each connection it passes.
struct DantePeer {
    Sandbox box;
    PeerProcess peer;
    int port = FreeLoopbackPort();

    bool start() {
        const QString config = QStringLiteral(
                                   "logoutput: %1\ninternal: 127.0.0.1 port = %2\n"
                                   "external: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                                   "user.privileged: root\nuser.unprivileged: nobody\n"
                                   "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                   "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 "
                                   "command: connect\n log: connect }\n")
                                   .arg(box.file(QStringLiteral("dante.log")))
                                   .arg(port);
        return WriteFile(box.file(QStringLiteral("danted.conf")), config.toUtf8()) &&
               peer.start(QStringLiteral("/usr/sbin/danted"),
                          {QStringLiteral("-f"), box.file(QStringLiteral("danted.conf")),
                           QStringLiteral("-N"), QStringLiteral("1"), QStringLiteral("-p"),
                           box.file(QStringLiteral("danted.pid"))}) &&
               WaitFor([&] { return LoopbackPortAccepts(port); });
    }
    QString log() const {
        QFile file(box.file(QStringLiteral("dante.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

// Answers with the options' route, a moment after it is asked: the probe must wait for it.
class LateResolver : public ProxyResolver {
public:
    explicit LateResolver(const Settings& settings) : settings_(settings) {}
    void resolve(const QString& url, Done done) override {
        asked << url;
        QTimer::singleShot(
            300, [route = ProxyRouteFor(settings_, 0), done = std::move(done)] { done(route); });
    }
    QStringList asked;

private:
    const Settings& settings_;
};

class ProxySessionTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
        served = box.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served));
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QFile::setPermissions(box.path(), open);
        QFile::setPermissions(served, open);
        content = RandomBytes(3 * 1024 * 1024 + 17);
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/data.bin"), content));
        QFile::setPermissions(served + QStringLiteral("/data.bin"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }

    // Fetches the address with 8 segments allowed; the download as it ended.
    Download& fetch(Engine& engine, const QString& url) {
        engine.sockets.setTlsCaFile(certificates.file(QStringLiteral("ca.pem")));
        engine.settings.MaxSegments = 8;
        Download& d = engine.fetch(url);
        EXPECT_TRUE(WaitClosed({&d}, std::chrono::seconds(120)));
        return d;
    }
    void expectWhole(Engine& engine, const Download& d) {
        EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
        ASSERT_FALSE(d.observer.planned.empty());
        EXPECT_EQ(d.observer.planned.front(), 8);
        EXPECT_EQ(FileSha256(engine.record(d).SavePath), Sha256(content));
    }

    Sandbox box;
    Certificates certificates;
    QString served;
    QByteArray content;
};

}  // namespace

// Each kind of proxy with each scheme: the file arrives whole, and the proxy carried it.
TEST_F(ProxySessionTest, EverySchemeArrivesWholeThroughEachProxy) {
    NginxPeer plain(served);
    NginxPeer tls(served);
    tls.setTls(certificates.file(QStringLiteral("good.pem")),
               certificates.file(QStringLiteral("server.key")));
    PyFtpPeer ftp(served);
    ASSERT_TRUE(plain.start()) << plain.error().toStdString();
    ASSERT_TRUE(tls.start()) << tls.error().toStdString();
    ASSERT_TRUE(ftp.start()) << ftp.error().toStdString();
    const struct {
        int socks;  // 0: tinyproxy
        ServedPeer* server;
    } rows[] = {{0, &plain}, {0, &tls}, {4, &plain}, {4, &tls}, {4, &ftp}};
    int n = 0;
    for (const auto& row : rows) {
        const QString url = row.server->url(QStringLiteral("/data.bin"));
        SCOPED_TRACE(QStringLiteral("socks %1, %2").arg(row.socks).arg(url).toStdString());
        Engine engine(box.file(QStringLiteral("engine%1").arg(n++)));
        ProxyPeer http;
        DantePeer socks;
        if (row.socks == 0) {
            ASSERT_TRUE(http.start()) << http.error().toStdString();
            engine.settings.ProxyHTTP = FlagTrue;
            engine.settings.ProxyServer = QStringLiteral("127.0.0.1");
            engine.settings.ProxyPort = http.port();
        } else {
            ASSERT_TRUE(socks.start());
            engine.settings.SocksVersion = static_cast<std::int16_t>(row.socks);
            engine.settings.SocksServer = QStringLiteral("127.0.0.1");
            engine.settings.SocksPort = socks.port;
        }
        Download& d = fetch(engine, url);
        expectWhole(engine, d);
        // One line for each connection the proxy made: the probe's and 8 segments', and for
        // FTP 8 passive data connections to other ports.
        const QStringList made = (row.socks == 0 ? http.error() : socks.log())
                                     .split(u'\n')
                                     .filter(row.socks == 0 ? QStringLiteral("Request (")
                                                            : QStringLiteral("tcp/connect"));
        const QRegularExpression server(QStringLiteral("[.:]%1\\b").arg(row.server->port()));
        const qsizetype toServer = made.filter(server).size();
        EXPECT_GE(toServer, 9) << made.join(u'\n').toStdString();
        EXPECT_GE(made.size() - toServer, row.server == &ftp ? 8 : 0);
    }
}

// A proxy asking for a login: none set, the right one (asked again after the 407), one it
// refuses with a second 407 (tinyproxy answers a wrong login with 401, so a scripted server
// plays that proxy). The resolver that answers later is waited for.
TEST_F(ProxySessionTest, PlainRequestsGiveTheProxyItsLogin) {
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    ProxyPeer tinyproxy;
    tinyproxy.requireLogin(QStringLiteral("ann"), QStringLiteral("s3cret"));
    ASSERT_TRUE(tinyproxy.start()) << tinyproxy.error().toStdString();
    HttpFaultServer refusing;
    refusing.setMode(QStringLiteral("proxy-login"));
    const QString refusals = box.file(QStringLiteral("refusals.log"));
    ASSERT_TRUE(refusing.start(refusals)) << refusing.error().toStdString();
    const struct {
        int port;
        const char* password;
        const char* why;  // empty: arrives whole
    } rows[] = {{tinyproxy.port(), "", SessionReason::ProxyNeedsLogin},
                {tinyproxy.port(), "s3cret", ""},
                {refusing.port(), "wrong", SessionReason::ProxyRefusedLogin}};
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.password);
        Engine engine(box.file(QStringLiteral("engine%1").arg(n++)));
        LateResolver resolver(engine.settings);
        engine.ctx.proxyResolver = &resolver;
        engine.settings.ProxyHTTP = FlagTrue;
        engine.settings.ProxyServer = QStringLiteral("127.0.0.1");
        engine.settings.ProxyPort = row.port;
        engine.settings.ProxyUser = *row.password == 0 ? QString() : QStringLiteral("ann");
        engine.settings.ProxyPassword = QString::fromLatin1(row.password);
        const QString url = nginx.url(QStringLiteral("/data.bin"));
        Download& d = fetch(engine, url);
        EXPECT_EQ(resolver.asked.value(0), url);
        if (*row.why == 0) {
            expectWhole(engine, d);
            continue;
        }
        EXPECT_EQ(d.observer.whys, QStringList{QLatin1String(row.why)});
        EXPECT_EQ(FailureWords(engine.record(d).Reserved4), QLatin1String(row.why));
    }
    QFile log(refusals);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList asked = QString::fromLatin1(log.readAll()).split(u'\n');
    EXPECT_EQ(
        asked.filter(QStringLiteral("PROXY-LOGIN")),
        QStringList({QStringLiteral("PROXY-LOGIN False"), QStringLiteral("PROXY-LOGIN True")}));
}
