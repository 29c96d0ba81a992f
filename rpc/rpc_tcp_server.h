#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

// A listening socket of the remote control. Given a TLS configuration, every connection it
// accepts is a QSslSocket that has begun the server's handshake (Qt 6.4 has no QSslServer).
class RpcTcpServer : public QTcpServer {
    Q_OBJECT
public:
    explicit RpcTcpServer(const QSslConfiguration* tls, QObject* parent)
        : QTcpServer(parent), tls_(tls) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const QSslConfiguration* tls_;  // null for plain HTTP; owned by the RpcServer
};
