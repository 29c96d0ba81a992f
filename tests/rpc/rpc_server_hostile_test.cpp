#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <optional>

#include "rpc/rpc_server.h"
#include "rpc/unauthorized_pause.h"
#include "tests/rpc/rpc_test_client.h"
#include "tests/support/sandbox.h"

namespace {

using Ms = std::chrono::milliseconds;

const QByteArray Version = R"({"jsonrpc":"2.0","id":"v","method":"aria2.getVersion"})";

QByteArray Post(const QByteArray& body) {
    return "POST /jsonrpc HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

struct Served {
    ScriptedDispatch dispatch;
    std::optional<RpcServer> server;
    explicit Served(RpcTransportOptions options = {}) {
        options.port = 0;
        server.emplace(dispatch, options);
        EXPECT_EQ(server->listen(), QString());
    }
    // Qt's WebSocket leaves its TCP socket to a deferred delete.
    ~Served() {
        server.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST(RpcServer, WebSocketClientsGetAnswersAndNotifications) {
    Served served;
    QWebSocket client;
    QStringList heard;
    QObject::connect(&client, &QWebSocket::textMessageReceived,
                     [&heard](const QString& text) { heard << text; });
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/jsonrpc").arg(served.server->port())));
    ASSERT_TRUE(WaitFor([&] { return served.server->webSocketClients() == 1; }));
    client.sendTextMessage(QString::fromUtf8(Version));
    ASSERT_TRUE(WaitFor([&] { return heard.size() == 1; }));
    EXPECT_EQ(QJsonDocument::fromJson(heard[0].toUtf8())["result"]["version"], "1");
    served.server->notify(QStringLiteral("aria2.onDownloadStart"),
                          QStringLiteral("2089b05ecca3d829"));
    ASSERT_TRUE(WaitFor([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard[1], R"({"jsonrpc":"2.0","method":"aria2.onDownloadStart",)"
                        R"("params":[{"gid":"2089b05ecca3d829"}]})");
}

TEST(RpcServer, RefusesAHundredMegabyteBodyUnread) {
    Served served;
    bool closed = false;
    const QByteArray head = "POST /jsonrpc HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n";
    const QList<HttpReply> refused =
        AskHttp(served.server->port(), head + QByteArray(1 << 20, '['), 1, &closed);
    ASSERT_EQ(refused.size(), 1);
    EXPECT_EQ(refused[0].status, 413);
    EXPECT_TRUE(closed);
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
    served.dispatch.slow = [&leaver] {
        leaver.abort();
        QEventLoop loop;  // as a method that waits for the network would
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
    };
    leaver.connectToHost(QStringLiteral("127.0.0.1"), served.server->port());
    leaver.write(Post(R"({"id":1,"method":"test.slow"})"));
    ASSERT_TRUE(WaitFor([&] { return leaver.state() == QAbstractSocket::UnconnectedState; }));
    served.dispatch.slow = nullptr;
    EXPECT_EQ(AskHttp(served.server->port(), Post(Version)).value(0).status, 200);
}

}  // namespace
