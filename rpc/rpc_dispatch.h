#pragma once

#include <QJsonObject>
#include <QString>

// What the remote-control server hands each JSON-RPC request to: the methods, above the
// engine's queue. The transport (HTTP, WebSocket) knows nothing of downloads; the methods
// know nothing of connections.
class RpcDispatch {
public:
    virtual ~RpcDispatch() = default;
    // One request object as received (a member of a batch is handed over on its own). Returns
    // the response object ({"jsonrpc":"2.0","id":...,"result":...} or "error"), or an empty
    // object for a notification (a request without an id), which gets no answer.
    virtual QJsonObject handle(const QJsonObject& request) = 0;
};

// aria2's error answer for a wrong secret: the transport slows every such answer, so that a
// secret cannot be guessed at the speed of the network.
constexpr int RpcUnauthorizedCode = 1;
inline const QString RpcUnauthorizedMessage = QStringLiteral("Unauthorized");
