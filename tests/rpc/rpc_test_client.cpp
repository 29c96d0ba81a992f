#include "tests/rpc/rpc_test_client.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include "tests/support/sandbox.h"

void ScriptedDispatch::handle(const QJsonObject& request, Reply reply) {
    if (request.value("method") == QJsonValue("test.slow") && slow) {
        slow();
        QTimer::singleShot(300, [reply, answer = answer(request)] { reply(answer); });
        return;
    }
    reply(answer(request));
}

QJsonObject ScriptedDispatch::answer(const QJsonObject& request) {
    const QJsonValue id = request.value("id");
    const auto error = [&id](int code, const QString& message) {
        return QJsonObject{{"jsonrpc", "2.0"},
                           {"id", id},
                           {"error", QJsonObject{{"code", code}, {"message", message}}}};
    };
    const QString method = request.value("method").toString();
    const QJsonArray params = request.value("params").toArray();
    if (!request.value("method").isString()) {
        return error(-32600, "Invalid Request.");
    }
    if (!request.contains("id")) {
        return {};
    }
    if (request.contains("params") && !request.value("params").isArray()) {
        return error(-32602, "Invalid params.");
    }
    if (!params.isEmpty() && params.at(0) == QJsonValue("token:wrong")) {
        return error(RpcUnauthorizedCode, RpcUnauthorizedMessage);
    }
    if (method == "aria2.getVersion" || method == "test.slow") {
        return {{"jsonrpc", "2.0"}, {"id", id}, {"result", QJsonObject{{"version", "1"}}}};
    }
    return error(1, "No such method: " + method);
}

namespace {

// One whole answer from the front of `bytes`, removed from it; false while it is not whole.
bool TakeReply(QByteArray& bytes, HttpReply& reply) {
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0) {
        return false;
    }
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        reply.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const qsizetype length = reply.headers.value("content-length", "0").toLongLong();
    if (bytes.size() < end + 4 + length) {
        return false;
    }
    reply.status = lines.first().split(' ').value(1).toInt();
    reply.body = bytes.mid(end + 4, length);
    bytes.remove(0, end + 4 + length);
    return true;
}

}  // namespace

QList<HttpReply> AskHttp(quint16 port, const QByteArray& wire, int count) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    QList<HttpReply> replies;
    if (!WaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; })) {
        return replies;
    }
    socket.write(wire);
    QByteArray bytes;
    WaitFor([&] {
        bytes += socket.readAll();
        for (HttpReply reply; replies.size() < count && TakeReply(bytes, reply); reply = {}) {
            replies.append(reply);
        }
        return replies.size() == count || socket.state() == QAbstractSocket::UnconnectedState;
    });
    return replies;
}

QByteArray Post(const QByteArray& body, const QByteArray& path) {
    return "POST " + path + " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

Served::Served(RpcTransportOptions options) {
    options.port = 0;
    server.emplace(dispatch, options);
    EXPECT_EQ(server->listen(), QString());
}

Served::~Served() {
    server.reset();
    // Qt's WebSocket leaves its TCP socket to a deferred delete.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
