#pragma once

#include <QJsonObject>
#include <QString>
#include <functional>

// What the remote-control server hands each JSON-RPC request to: the methods, above the
// engine's queue. The transport (HTTP, WebSocket) knows nothing of downloads; the methods
// know nothing of connections.
class RpcDispatch {
public:
    // Takes the response object ({"jsonrpc":"2.0","id":...,"result":...} or "error"), or an
    // empty object for a notification (a request without an id), which gets no answer.
    using Reply = std::function<void(const QJsonObject& answer)>;

    virtual ~RpcDispatch() = default;
    // One request object as received (a member of a batch is handed over on its own). `reply`
    // is called once: at once for most methods, later from the event loop for one that asks a
    // server first. It is never called after the dispatcher is gone.
    virtual void handle(const QJsonObject& request, Reply reply) = 0;
};

// aria2's error answer for a wrong secret: the transport slows every such answer, so that a
// secret cannot be guessed at the speed of the network.
constexpr int RpcUnauthorizedCode = 1;
inline const QString RpcUnauthorizedMessage = QStringLiteral("Unauthorized");
