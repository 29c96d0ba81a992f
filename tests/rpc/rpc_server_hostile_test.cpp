#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QWebSocket>

#include "rpc/rpc_server.h"
#include "rpc/unauthorized_pause.h"
#include "tests/rpc/rpc_test_client.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_certificates.h"

namespace {

using Ms = std::chrono::milliseconds;

TEST(RpcServer, WebSocketClientsGetAnswersAndNotificationsWithAndWithoutTls) {
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "wss" : "ws");
        RpcTransportOptions options;
        options.certificateFile = tls ? certificates.file("good.pem") : QString();
        options.privateKeyFile = tls ? certificates.file("server.key") : QString();
        Served served(options);
        QWebSocket client;
        QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
        trust.setCaCertificates(QSslCertificate::fromPath(certificates.file("ca.pem")));
        client.setSslConfiguration(trust);
        QStringList heard;
        QObject::connect(&client, &QWebSocket::textMessageReceived,
                         [&heard](const QString& text) { heard << text; });
        client.open(QUrl(QStringLiteral("%1://127.0.0.1:%2/jsonrpc")
                             .arg(tls ? "wss" : "ws")
                             .arg(served.server->port())));
        ASSERT_TRUE(WaitFor([&] { return client.state() == QAbstractSocket::ConnectedState; }));
        client.sendTextMessage(QString::fromUtf8(Version));
        ASSERT_TRUE(WaitFor([&] { return heard.size() == 1; }));
        EXPECT_EQ(QJsonDocument::fromJson(heard[0].toUtf8())["result"]["version"], "1");
        served.server->notify(QStringLiteral("aria2.onDownloadStart"),
                              QStringLiteral("2089b05ecca3d829"));
        ASSERT_TRUE(WaitFor([&] { return heard.size() == 2; }));
        EXPECT_EQ(heard[1], R"({"jsonrpc":"2.0","method":"aria2.onDownloadStart",)"
                            R"("params":[{"gid":"2089b05ecca3d829"}]})");
    }
}

TEST(RpcServer, RefusesAHundredMegabyteBodyUnread) {
    Served served;
    const QByteArray head = "POST /jsonrpc HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n";
    const HttpReply refused =
        AskHttp(served.server->port(), head + QByteArray(1 << 20, '[')).value(0);
    EXPECT_EQ(refused.status, 413);
    EXPECT_EQ(refused.headers.value("connection"), "close");
    EXPECT_EQ(AskHttp(served.server->port(), Post(Version)).value(0).status, 200);
}

TEST(RpcServer, AnswersAFloodOfRequestsOnEachConnection) {
    Served served;
    for (int connection = 0; connection < 4; ++connection) {
        const QList<HttpReply> replies =
            AskHttp(served.server->port(), Post(Version).repeated(250), 250);
        ASSERT_EQ(replies.size(), 250);
        EXPECT_EQ(replies.last().status, 200);
    }
}

TEST(RpcServer, SlowsARefusedSecretWithoutHoldingOthersBack) {
    RpcTransportOptions options;
    options.firstUnauthorizedPause = Ms(3000);
    Served served(options);
    QTcpSocket guesser;
    guesser.connectToHost(QStringLiteral("127.0.0.1"), served.server->port());
    guesser.write(Post(R"({"id":1,"method":"aria2.getVersion","params":["token:wrong"]})"));
    ASSERT_TRUE(guesser.waitForBytesWritten(5000));
    EXPECT_EQ(AskHttp(served.server->port(), Post(Version)).value(0).status, 200);
    EXPECT_EQ(guesser.bytesAvailable(), 0);
    QByteArray answer;
    ASSERT_TRUE(WaitFor([&] {
        answer += guesser.readAll();
        return answer.contains("Unauthorized");
    }));
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 400 "));
}

TEST(UnauthorizedPause, GrowsPerAddressUpToACapAndIsForgotten) {
    UnauthorizedPause pause(Ms(1000), Ms(5000));
    const QHostAddress one(QStringLiteral("127.0.0.2"));
    const QHostAddress mapped(QStringLiteral("::ffff:127.0.0.2"));
    const QHostAddress other(QStringLiteral("::1"));
    const struct {
        QHostAddress address;
        Ms now;
        Ms pause;
    } steps[] = {{one, Ms(1), Ms(1000)}, {one, Ms(2), Ms(2000)},   {mapped, Ms(3), Ms(4000)},
                 {one, Ms(4), Ms(5000)}, {other, Ms(5), Ms(1000)}, {one, Ms(700000), Ms(1000)}};
    for (const auto& step : steps) {
        EXPECT_EQ(pause.refused(step.address, step.now), step.pause) << step.now.count();
    }
}

TEST(RpcServer, OutlivesAClientThatLeavesDuringASlowAnswer) {
    Served served;
    QTcpSocket leaver;
    served.dispatch.slow = [&leaver] { leaver.abort(); };
    leaver.connectToHost(QStringLiteral("127.0.0.1"), served.server->port());
    leaver.write(Post(R"({"id":1,"method":"test.slow"})"));
    ASSERT_TRUE(WaitFor([&] { return leaver.state() == QAbstractSocket::UnconnectedState; }));
    served.dispatch.slow = nullptr;
    EXPECT_EQ(AskHttp(served.server->port(), Post(Version)).value(0).status, 200);
}

}  // namespace
