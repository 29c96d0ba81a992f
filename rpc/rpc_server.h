#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QSslConfiguration>
#include <QString>
#include <memory>
#include <optional>

#include "rpc/rpc_transport_options.h"
#include "rpc/unauthorized_pause.h"

class QTcpSocket;
class QWebSocketServer;
class RpcDispatch;
class RpcHttpConnection;
class RpcTcpServer;
class RpcWebSocketClient;

// The remote control's server: JSON-RPC over HTTP/1.1 (POST /jsonrpc and aria2's GET form) and
// over WebSocket (ws://HOST:PORT/jsonrpc) on one port. It hands every request object to the
// dispatcher and knows nothing of downloads.
class RpcServer : public QObject {
    Q_OBJECT
public:
    RpcServer(RpcDispatch& dispatch, RpcTransportOptions options, QObject* parent = nullptr);
    ~RpcServer() override;

    // Starts listening; empty when it does, else why not (the port taken, a certificate that
    // does not load...).
    QString listen();
    // The port listened on (the one chosen when the options asked for any).
    quint16 port() const;
    bool secure() const { return tls_.has_value(); }

    // Sends {"jsonrpc":"2.0","method":METHOD,"params":[{"gid":GID}]} to every WebSocket client.
    void notify(const QString& method, const QString& gid);
    qsizetype webSocketClients() const { return webSocketClients_.size(); }

private:
    QString loadTls();
    void accept(RpcTcpServer* server);
    void adoptWebSocket();
    // Each may hold a request of the size limit: this bounds what clients can make us keep.
    static constexpr qsizetype MaxConnections = 64;

    RpcDispatch& dispatch_;
    const RpcTransportOptions options_;
    UnauthorizedPause pause_;
    std::optional<QSslConfiguration> tls_;
    QList<RpcTcpServer*> listeners_;  // children
    QWebSocketServer* webSockets_;    // child
    QSet<RpcHttpConnection*> connections_;
    QSet<RpcWebSocketClient*> webSocketClients_;
};
