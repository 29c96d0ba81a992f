#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include "rpc/http_request_reader.h"

class QTcpSocket;
class RpcDispatch;
class UnauthorizedPause;
struct HttpAnswer;
struct RpcTransportOptions;

// One client's HTTP connection: requests read in order, each answered before the next is read
// (so a slowed answer holds back only its own connection), kept alive between requests as
// HTTP/1.1 wants, and closed after an error as aria2 does. It owns its socket until a request
// asks for a WebSocket, when the socket goes to webSocketRequested's receiver with that
// request still unread.
class RpcHttpConnection : public QObject {
    Q_OBJECT
public:
    RpcHttpConnection(QTcpSocket* socket, const RpcTransportOptions& options, RpcDispatch& dispatch,
                      UnauthorizedPause& pause, QObject* parent);
    ~RpcHttpConnection() override;

signals:
    void webSocketRequested(QTcpSocket* socket);
    // The connection ended; it deletes itself after this.
    void finished();

private:
    void pump();
    bool handOver();
    void answer(const HttpRequest& request);
    // The answer to a request that does not reach the dispatcher (a wrong path, a browser's
    // cross-origin check); status 0 for one that does.
    HttpAnswer answerOutside(const HttpRequest& request) const;
    void answered(const HttpAnswer& answer);
    void send(const HttpAnswer& answer);
    void refuse(HttpRequestReader::Fault fault);
    void writeHeld();
    void closeAfterWrite();
    void shutDown();
    void end();

    QTcpSocket* socket_;
    const RpcTransportOptions& options_;
    RpcDispatch& dispatch_;
    UnauthorizedPause& pause_;
    HttpRequestReader reader_;
    QTimer held_;  // a slowed answer waits here
    QTimer idle_;  // a client that sends nothing for long is let go
    QByteArray heldBytes_;
    bool heldCloses_ = false;
    bool busy_ = false;  // a request awaits its answer
    bool closing_ = false;
    bool ended_ = false;  // the client is gone or the socket was handed over
    bool done_ = false;   // finished() was emitted
};
