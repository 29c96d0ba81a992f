#include "rpc/rpc_tcp_server.h"

#include <QSslSocket>

void RpcTcpServer::incomingConnection(qintptr descriptor) {
    if (tls_ == nullptr) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(*tls_);
    socket->startServerEncryption();
    addPendingConnection(socket);
}
