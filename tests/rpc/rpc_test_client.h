#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <functional>
#include <optional>

#include "rpc/rpc_server.h"

#include "rpc/rpc_dispatch.h"

// A dispatcher scripted after aria2's answers: aria2.getVersion answers, a missing method is an
// invalid request, parameters that are not an array are invalid, "token:wrong" is refused,
// any other method is unknown; test.slow runs `slow` first and answers 300 ms later, as a
// method that asks a server does.
class ScriptedDispatch : public RpcDispatch {
public:
    void handle(const QJsonObject& request, Reply reply) override;
    std::function<void()> slow;

private:
    static QJsonObject answer(const QJsonObject& request);
};

struct HttpReply {
    int status = 0;
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};

// Sends `wire` on a new connection to 127.0.0.1:port and reads `count` answers, fewer when
// the server closes first.
QList<HttpReply> AskHttp(quint16 port, const QByteArray& wire, int count = 1);

QByteArray Post(const QByteArray& body, const QByteArray& path = "/jsonrpc");
inline const QByteArray Version = R"({"jsonrpc":"2.0","id":"v","method":"aria2.getVersion"})";

// Our server on 127.0.0.1 and a free port, answering with a ScriptedDispatch.
struct Served {
    explicit Served(RpcTransportOptions options = {});
    ~Served();
    ScriptedDispatch dispatch;
    std::optional<RpcServer> server;
};
