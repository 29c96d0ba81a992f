// Downloads along proxy routes against real peers on loopback: tinyproxy (full addresses,
// CONNECT tunnels, its login), dante (SOCKS4; FTP's passive data connections too) and a scripted
// proxy that refuses every login (tinyproxy answers a wrong one with 401, not 407).
#include <gtest/gtest.h>

#include <QRegularExpression>

#include "engine/http/proxy_route.h"
#include "engine/session/failure_words.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/net/socket_test_support.h"
#include "tests/support/ftp_peers.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/proxy_peer.h"
#include "tests/support/test_certificates.h"

using namespace session_test;

namespace {

// Answers with its route a moment after it is asked: the probe must wait for it (the login
// rows fail only through the proxy).
struct LateResolver : ProxyResolver {
    void resolve(const QString& /*url*/, Done done) override {
        QTimer::singleShot(300, [route = route, done] { done(route); });
    }
    ProxyRoute route;
};

}  // namespace

// Rows (proxy, scheme, login): the 8-segment download arrives whole through the proxy, or
// fails with the proxy's reason.
TEST(ProxySession, EachProxyAndSchemeArrivesWholeOrGivesTheProxysReason) {
    Sandbox box;
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
    const QString served = box.file(QStringLiteral("served"));
    const QByteArray content = RandomBytes(3 * 1024 * 1024 + 17);
    ASSERT_TRUE(QDir().mkpath(served) && WriteFile(served + QStringLiteral("/data.bin"), content));
    for (const QString& path : {box.path(), served, served + QStringLiteral("/data.bin")}) {
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOther | QFile::ExeOther);
    }
    NginxPeer plain(served), tls(served);
    tls.setTls(certificates.file(QStringLiteral("good.pem")),
               certificates.file(QStringLiteral("server.key")));
    PyFtpPeer ftp(served);
    ProxyPeer open, login;
    login.requireLogin(QStringLiteral("ann"), QStringLiteral("s3cret"));
    HttpFaultServer refusing;
    refusing.setMode(QStringLiteral("proxy-login"));
    Dante dante;
    const int blocked = FreeLoopbackPort();
    ASSERT_TRUE(plain.start() && tls.start() && ftp.start() && open.start() && login.start() &&
                refusing.start(box.file(QStringLiteral("refusing.log"))) && dante.start(blocked))
        << (plain.error() + tls.error() + ftp.error() + open.error() + login.error()).toStdString();
    using enum ProxyRoute::Kind;
    const struct {
        ServedPeer* server;
        ServedPeer* proxy;  // none: dante
        const char* password;
        const char* why;  // none: arrives whole
        ProxyRoute::Kind kind = Http;
    } rows[] = {{&plain, &open, "", ""},
                {&tls, &open, "", ""},
                {&plain, nullptr, "", "", Socks4},
                {&tls, nullptr, "", "", Socks4},
                {&ftp, nullptr, "", "", Socks4},
                {&plain, nullptr, "", "", Socks5},
                {&tls, nullptr, "", "", Socks5},
                {&ftp, nullptr, "", "", Socks5},
                {nullptr, nullptr, "", "the SOCKS proxy refused: connection not allowed by ruleset",
                 Socks5},
                {&plain, &login, "", SessionReason::ProxyNeedsLogin},
                {&plain, &login, "s3cret", ""},
                {&plain, &refusing, "wrong", SessionReason::ProxyRefusedLogin}};
    int n = 0;
    for (const auto& row : rows) {
        const QString url = row.server != nullptr
                                ? row.server->url(QStringLiteral("/data.bin"))
                                : QStringLiteral("http://127.0.0.1:%1/data.bin").arg(blocked);
        SCOPED_TRACE((url + u' ' + QString::number(n)).toStdString());
        Engine engine(box.file(QStringLiteral("engine%1").arg(n++)));
        engine.sockets.setTlsCaFile(certificates.file(QStringLiteral("ca.pem")));
        engine.settings.MaxSegments = 8;
        LateResolver resolver;
        resolver.route = {row.kind, QStringLiteral("127.0.0.1"),
                          row.proxy != nullptr ? row.proxy->port() : dante.port,
                          *row.password != 0 ? QStringLiteral("ann") : QString(),
                          QString::fromLatin1(row.password)};
        engine.ctx.proxyResolver = &resolver;
        dante.peer.errorOutput();  // the connections of the rows before
        Download& d = engine.fetch(url);
        ASSERT_TRUE(WaitClosed({&d}, std::chrono::seconds(120)));
        if (*row.why != 0) {
            EXPECT_EQ(d.observer.whys, QStringList{QLatin1String(row.why)});
            if (row.server != nullptr) {
                // The proxy's own words of a refusal live with the session, as a tunnel's do.
                EXPECT_EQ(FailureWords(engine.record(d).Reserved4), QLatin1String(row.why));
            }
            continue;
        }
        EXPECT_EQ(d.observer.planned, std::vector<int>{8});
        EXPECT_EQ(FileSha256(engine.record(d).SavePath), Sha256(content));
        // The probe's connection and each segment's, for FTP each passive one too.
        const QString log =
            row.proxy != nullptr ? row.proxy->error() : QString::fromUtf8(dante.peer.errorOutput());
        const QRegularExpression made(
            row.proxy != nullptr ? QStringLiteral("Request \\(.*:%1\\b").arg(row.server->port())
                                 : QStringLiteral("tcp/connect"));
        EXPECT_GE(log.count(made), row.server == &ftp ? 17 : 9) << log.toStdString();
    }
}
