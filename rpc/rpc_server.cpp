#include "rpc/rpc_server.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include "rpc/rpc_http_connection.h"
#include "rpc/rpc_tcp_server.h"
#include "rpc/rpc_websocket_client.h"

namespace {

QByteArray ReadSmallFile(const QString& name, QString& problem) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return {};
    }
    return file.read(1024 * 1024);
}

}  // namespace

RpcServer::RpcServer(RpcDispatch& dispatch, RpcTransportOptions options, QObject* parent)
    : QObject(parent),
      dispatch_(dispatch),
      options_(std::move(options)),
      pause_(options_.firstUnauthorizedPause, options_.maxUnauthorizedPause),
      webSockets_(
          new QWebSocketServer(QStringLiteral("Brenloft"), QWebSocketServer::NonSecureMode, this)) {
    connect(webSockets_, &QWebSocketServer::newConnection, this, &RpcServer::adoptWebSocket);
}

RpcServer::~RpcServer() {
    // The connections and clients are children, deleted after this body; they must not call
    // back into sets that are going away.
    for (RpcHttpConnection* connection : std::as_const(connections_)) {
        connection->disconnect(this);
    }
    for (RpcWebSocketClient* client : std::as_const(webSocketClients_)) {
        client->disconnect(this);
        client->abort();  // hands the TCP socket to Qt's deferred delete, which frees it
    }
}

QString RpcServer::listen() {
    if (!options_.certificateFile.isEmpty() || !options_.privateKeyFile.isEmpty()) {
        const QString problem = loadTls();
        if (!problem.isEmpty()) {
            return problem;
        }
    }
    const QList<QHostAddress> addresses =
        options_.listenAll
            ? QList<QHostAddress>{QHostAddress::Any}
            : QList<QHostAddress>{QHostAddress::LocalHost, QHostAddress::LocalHostIPv6};
    quint16 port = options_.port;
    for (const QHostAddress& address : addresses) {
        auto* server = new RpcTcpServer(tls_ ? &*tls_ : nullptr, this);
        if (!server->listen(address, port)) {
            const bool noIpv6 = address == QHostAddress::LocalHostIPv6 && !listeners_.isEmpty() &&
                                server->serverError() != QAbstractSocket::AddressInUseError;
            const QString why = QStringLiteral("cannot listen on %1 port %2: %3")
                                    .arg(address.toString())
                                    .arg(port)
                                    .arg(server->errorString());
            delete server;
            if (noIpv6) {
                continue;  // a machine without IPv6 is served on 127.0.0.1 alone
            }
            qDeleteAll(listeners_);
            listeners_.clear();
            return why;
        }
        server->setMaxPendingConnections(64);
        port = server->serverPort();
        listeners_.append(server);
        connect(server, &QTcpServer::pendingConnectionAvailable, this,
                [this, server] { accept(server); });
    }
    return {};
}

quint16 RpcServer::port() const {
    return listeners_.isEmpty() ? 0 : listeners_.first()->serverPort();
}

QString RpcServer::loadTls() {
    if (options_.certificateFile.isEmpty() || options_.privateKeyFile.isEmpty()) {
        return QStringLiteral("TLS needs both a certificate file and a private key file");
    }
    QString problem;
    const QByteArray certificateBytes = ReadSmallFile(options_.certificateFile, problem);
    const QByteArray keyBytes = ReadSmallFile(options_.privateKeyFile, problem);
    if (!problem.isEmpty()) {
        return problem;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificateBytes, QSsl::Pem);
    if (chain.isEmpty()) {
        return QStringLiteral("%1 holds no PEM certificate").arg(options_.certificateFile);
    }
    QSslKey key(keyBytes, QSsl::Rsa, QSsl::Pem);
    if (key.isNull()) {
        key = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem);
    }
    if (key.isNull()) {
        return QStringLiteral("%1 holds no PEM private key (RSA or EC)")
            .arg(options_.privateKeyFile);
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);  // clients show no certificates
    tls_ = tls;
    return {};
}

void RpcServer::accept(RpcTcpServer* server) {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        if (connections_.size() + webSocketClients_.size() >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new RpcHttpConnection(socket, options_, dispatch_, pause_, this);
        connections_.insert(connection);
        connect(connection, &RpcHttpConnection::finished, this,
                [this, connection] { connections_.remove(connection); });
        connect(connection, &RpcHttpConnection::webSocketRequested, webSockets_,
                &QWebSocketServer::handleConnection);
    }
}

void RpcServer::adoptWebSocket() {
    while (QWebSocket* socket = webSockets_->nextPendingConnection()) {
        auto* client = new RpcWebSocketClient(socket, options_, dispatch_, pause_, this);
        webSocketClients_.insert(client);
        connect(client, &RpcWebSocketClient::finished, this,
                [this, client] { webSocketClients_.remove(client); });
    }
}

void RpcServer::notify(const QString& method, const QString& gid) {
    const QJsonObject message{
        {"jsonrpc", "2.0"}, {"method", method}, {"params", QJsonArray{QJsonObject{{"gid", gid}}}}};
    const QByteArray text = QJsonDocument(message).toJson(QJsonDocument::Compact);
    for (RpcWebSocketClient* client : std::as_const(webSocketClients_)) {
        client->send(text);
    }
}
