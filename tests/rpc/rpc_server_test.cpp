#include "rpc/rpc_server.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/rpc/rpc_test_client.h"
#include "tests/support/aria2_peer.h"
#include "tests/support/sandbox.h"

namespace {

// What a client sees of an answer: status, the headers that matter, and per answer object the
// error code or "result", with its id.
QString Shape(const HttpReply& reply) {
    QByteArray body = reply.body;
    if (body.endsWith(')')) {
        body = body.mid(body.indexOf('(') + 1).chopped(1);  // a jsoncallback's wrapping
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonArray objects =
        document.isArray() ? document.array() : QJsonArray{document.object()};
    QStringList parts{QString::number(reply.status)};
    for (const char* header : {"content-type", "connection", "access-control-allow-origin",
                               "access-control-allow-methods", "access-control-allow-headers"}) {
        parts << QString::fromLatin1(reply.headers.value(header));
    }
    for (const QJsonValue& value : objects) {
        const QJsonObject object = value.toObject();
        parts << QStringLiteral("%1 id %2")
                     .arg(object.contains("error")
                              ? QString::number(object["error"]["code"].toInt())
                              : QStringLiteral("result"),
                          QString::fromUtf8(QJsonDocument(QJsonArray{object["id"]}).toJson()));
    }
    return parts.join('|');
}

QByteArray Get(const QByteArray& target) {
    return "GET " + target + " HTTP/1.1\r\n\r\n";
}

struct Row {
    const char* name;
    QByteArray wire;
    bool originAll = false;
    int answers = 1;
};

const Row Rows[] = {
    {"answer", Post(Version)},
    {"malformed json", Post("{\"jsonrpc\":")},
    {"json that is no request", Post("42")},
    {"no body", "POST /jsonrpc HTTP/1.1\r\n\r\n"},
    {"no method", Post(R"({"jsonrpc":"2.0","id":3})")},
    {"unknown method", Post(R"({"jsonrpc":"2.0","id":3,"method":"nope"})")},
    {"params not an array", Post(R"({"id":3,"method":"aria2.getVersion","params":{}})")},
    {"batch", Post(R"([1,"a",{"id":1,"method":"nope"},)" + Version + "]")},
    {"empty batch", Post("[]")},
    {"wrong path", Post(Version, "/other")},
    {"other verb", "PUT /jsonrpc HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}"},
    {"get form", Get("/jsonrpc?method=aria2.getVersion&id=7&params=WyJ4Il0%3D")},
    {"get form without method", Get("/jsonrpc?id=7")},
    {"get form, bad params", Get("/jsonrpc?method=aria2.getVersion&id=7&params=%25%25")},
    {"jsoncallback", Get("/jsonrpc?method=aria2.getVersion&id=1&jsoncallback=cb")},
    {"jsoncallback, error", Get("/jsonrpc?id=1&jsoncallback=cb")},
    {"http/1.0", "POST /jsonrpc HTTP/1.0\r\nContent-Length: 2\r\n\r\n[]"},
    {"head too large", "GET /jsonrpc HTTP/1.1\r\nX: " + QByteArray(100000, 'a') + "\r\n\r\n"},
    {"keep-alive, pipelined", Post(Version) + Post("[]"), false, 2},
    {"no preflight without the option",
     "OPTIONS /jsonrpc HTTP/1.1\r\nOrigin: http://a\r\nAccess-Control-Request-Method: "
     "POST\r\n\r\n"},
    {"preflight",
     "OPTIONS /jsonrpc HTTP/1.1\r\nOrigin: http://a\r\nAccess-Control-Request-Method: "
     "POST\r\nAccess-Control-Request-Headers: content-type\r\n\r\n",
     true},
    {"cross-origin answer", Post("{bad"), true},
};

TEST(RpcServer, AnswersEachRowAsAria2Does) {
    RpcTransportOptions originAll;
    originAll.allowOriginAll = true;
    Served plain;
    Served origins(originAll);
    Aria2Peer aria2;
    Aria2Peer aria2Origins;
    ASSERT_TRUE(aria2.start() && aria2Origins.start({"--rpc-allow-origin-all"}))
        << aria2.error().toStdString() << aria2Origins.error().toStdString();
    for (const Row& row : Rows) {
        SCOPED_TRACE(row.name);
        const QList<HttpReply> theirs =
            AskHttp((row.originAll ? aria2Origins : aria2).port(), row.wire, row.answers);
        const QList<HttpReply> mine =
            AskHttp((row.originAll ? origins : plain).server->port(), row.wire, row.answers);
        ASSERT_EQ(theirs.size(), row.answers);
        ASSERT_EQ(mine.size(), row.answers);
        for (int i = 0; i < row.answers; ++i) {
            EXPECT_EQ(Shape(mine[i]).toStdString(), Shape(theirs[i]).toStdString());
        }
    }
}

}  // namespace
