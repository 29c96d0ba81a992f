#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QTimer>

class QWebSocket;
class RpcDispatch;
struct RpcExchange;
class UnauthorizedPause;
struct RpcTransportOptions;

// One WebSocket client: each text message is a request (or a batch) answered in order on the
// same socket, and notifications go out between answers. A slowed answer holds back the
// messages behind it; a client that piles up more than a few is let go.
class RpcWebSocketClient : public QObject {
    Q_OBJECT
public:
    RpcWebSocketClient(QWebSocket* socket, const RpcTransportOptions& options,
                       RpcDispatch& dispatch, UnauthorizedPause& pause, QObject* parent);
    ~RpcWebSocketClient() override;

    void send(const QByteArray& message);
    // Drops the connection at once (the server is going away).
    void abort();

signals:
    // The client is gone; this object deletes itself after it.
    void finished();

private:
    void received(const QString& message);
    void work();
    void answered(const RpcExchange& exchange);
    void sendHeld();
    void end();

    QWebSocket* socket_;
    RpcDispatch& dispatch_;
    UnauthorizedPause& pause_;
    QQueue<QByteArray> waiting_;
    qint64 waitingBytes_ = 0;
    const qint64 waitingLimit_;
    QTimer held_;
    QByteArray heldAnswer_;
    bool busy_ = false;
    bool ended_ = false;
    bool done_ = false;
};
