// Downloads through the HTTP proxy (a real tinyproxy): https:// in a CONNECT tunnel, http:// as
// a plain request to the proxy, a redirect from one to the other crossing between the two ways,
// and a proxy that refuses the tunnel ending the download at once with one message.
#include <gtest/gtest.h>

#include <QDir>

#include "net/winsock_errors.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/proxy_peer.h"
#include "tests/support/test_certificates.h"

using namespace session_test;

TEST(ProxyTunnelSession, RedirectsCrossBetweenTunnelAndProxyRequestsAndRefusalsEndAtOnce) {
    Sandbox box;
    const QString served = box.file(QStringLiteral("served"));
    ASSERT_TRUE(QDir().mkpath(served));
    const QByteArray data = RandomBytes(400000);
    ASSERT_TRUE(WriteFile(served + QStringLiteral("/data.bin"), data));
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();

    // Each redirect names a server started before it.
    NginxPeer plain(served);
    ASSERT_TRUE(plain.start()) << plain.error().toStdString();
    NginxPeer tls(served);
    tls.setTls(certificates.file(QStringLiteral("good.pem")),
               certificates.file(QStringLiteral("server.key")));
    tls.addRedirect(QStringLiteral("/to-plain"), plain.url(QStringLiteral("/data.bin")));
    ASSERT_TRUE(tls.start()) << tls.error().toStdString();
    const auto secure = [&](const QString& path) {
        return tls.url(path).replace(QStringLiteral("http://"), "https://");
    };
    NginxPeer back(served);
    back.addRedirect(QStringLiteral("/to-tls"), secure(QStringLiteral("/data.bin")));
    ASSERT_TRUE(back.start()) << back.error().toStdString();
    const QString tunnel = QStringLiteral("CONNECT 127.0.0.1:%1").arg(tls.port());

    const struct {
        const char* name;
        QString url;
        bool refused;  // the proxy allows CONNECT to another port only
        QStringList asked;
    } cases[] = {
        {"https", secure(QStringLiteral("/data.bin")), false, {tunnel}},
        {"https redirected to http",
         secure(QStringLiteral("/to-plain")),
         false,
         {tunnel, QStringLiteral("GET ") + plain.url(QStringLiteral("/data.bin"))}},
        {"http redirected to https",
         back.url(QStringLiteral("/to-tls")),
         false,
         {QStringLiteral("GET ") + back.url(QStringLiteral("/to-tls")), tunnel}},
        {"tunnel refused", secure(QStringLiteral("/data.bin")), true, {tunnel}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyPeer proxy;
        if (c.refused) {
            proxy.allowConnectPorts({FreeLoopbackPort()});
        }
        ASSERT_TRUE(proxy.start()) << proxy.error().toStdString();
        const QString root = box.file(QStringLiteral("engine%1").arg(n++));
        ASSERT_TRUE(QDir().mkpath(root));
        Engine engine(root);
        engine.settings.MaxSegments = 4;
        engine.settings.ProxyHTTP = FlagTrue;
        engine.settings.ProxyServer = QStringLiteral("127.0.0.1");
        engine.settings.ProxyPort = static_cast<std::int16_t>(proxy.port());
        engine.sockets.setTlsCaFile(certificates.file(QStringLiteral("ca.pem")));

        Download& d = engine.fetch(c.url);
        ASSERT_TRUE(WaitClosed({&d}));
        const DownloadRecord& r = engine.record(d);
        const QString log = proxy.error();
        for (const QString& asked : c.asked) {
            EXPECT_TRUE(log.contains(asked)) << asked.toStdString() << "\n" << log.toStdString();
        }
        if (c.refused) {
            EXPECT_FALSE(d.observer.finished);
            EXPECT_EQ(r.Failed, FlagTrue);
            EXPECT_EQ(r.RetryCount, 0) << "a refusal is not asked again";
            const QString message =
                QStringLiteral(
                    "The proxy 127.0.0.1:%1 refused the tunnel to 127.0.0.1:%2: "
                    "HTTP/1.1 403 Access violation")
                    .arg(proxy.port())
                    .arg(tls.port());
            EXPECT_EQ(engine.prompts.messages, QStringList{message});
            EXPECT_EQ(d.observer.whys, QStringList{message});
            EXPECT_EQ(d.session->lastProbeError(), WinSock::TunnelRefused);
            continue;
        }
        EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
        EXPECT_EQ(engine.prompts.messages, QStringList{});
    }
}
