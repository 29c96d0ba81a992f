#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "net/socks_proxy.h"
#include "net/tls_connection.h"

class VelmoraSockets;

// One TCP connection. It owns an entry of the socket table for its whole life and reports
// through four events. With an event target set, its events go to the target instead, naming
// this object as `socket`: many segment connections then reach one set of handlers. Events
// of an object's own connection carry an empty `socket`.
class SocketClass : public QObject {
    Q_OBJECT
public:
    explicit SocketClass(VelmoraSockets& sockets, QObject* parent = nullptr);
    ~SocketClass() override;

    int SocketIndex = 0;
    QPointer<SocketClass> EventSocket;

    // The next Connect reaches its target through this SOCKS server (TLS, SetTls, starts once
    // it granted the connection). A refusal is an ErrorEvent with WinSock::TunnelRefused and
    // the server's reason in TlsProblem() ("the SOCKS proxy refused: connection not allowed by
    // ruleset"). Cleared by CloseSocket; not combined with SetHttpTunnel.
    void SetSocks(const SocksProxy& proxy);
    // The next Connect reaches its target through this HTTP proxy, in a tunnel the proxy opens
    // with CONNECT; TLS (SetTls) starts inside it. A proxy that refuses, answers nonsense or
    // closes is an ErrorEvent with WinSock::TunnelRefused, the proxy's status line in
    // TlsProblem(). With a login, a 407 is answered by asking again with
    // "Proxy-Authorization: Basic". Cleared by CloseSocket; not combined with SetSocks.
    void SetHttpTunnel(const QString& proxyServer, std::int32_t proxyPort, const QString& user = {},
                       const QString& password = {});
    // The next Connect speaks TLS once its TCP (or SOCKS) connection is up, to `serverName`
    // (SNI and the certificate check; an IP literal is checked as an address); ConnectEvent
    // comes when the handshake is done. A handshake or certificate failure is an ErrorEvent
    // with WinSock::TlsFailed and the reason in TlsProblem(). Cleared by CloseSocket.
    void SetTls(const QString& serverName);
    // Why the last TLS handshake (or a later read, or the proxy's tunnel before it) failed, for
    // the user, naming the host ("The certificate of example.org has expired"); empty when it
    // did not. Kept through CloseSocket until the next Connect, so an error handler may close
    // first and ask afterwards.
    QString TlsProblem() const;
    // The same failure as a reason, for words in the user's language and the trust question.
    TlsFailure TlsFailureCause() const;
    // SHA-256 of the server's leaf certificate (raw bytes; toHex() to show it) of the last
    // handshake, failed or not, so that a front end can offer to trust it for this host with
    // VelmoraSockets::trustTlsCertificate; empty when none was seen. Kept as TlsProblem is.
    QByteArray TlsPeerFingerprint() const;
    // Whether the peer ended the TLS connection with close_notify. A TCP close without it is
    // reported as Closed as well; a body of unknown length is then not known to be whole.
    bool TlsClosedCleanly() const;
    void Connect(const QString& server, std::int32_t port);
    void CloseSocket();
    void SendData(const QByteArray& data);
    // The whole receive buffer, handed over without copying; empty when nothing arrived.
    QByteArray GetData();
    void SetEventSocket(SocketClass* socket) { EventSocket = socket; }
    // The address the connection reached; empty when it is not connected.
    QString PeerAddress() const;
    // Closes the connection and gives the table entry back; the object is done with.
    void ShutDown();

    // Raised by the socket module, or by another object forwarding to this one.
    void RaiseDataReceived(std::int32_t numbytes, SocketClass* socket);
    void RaiseError(std::int32_t errornumber, SocketClass* socket);
    void RaiseConnect(SocketClass* socket);
    void RaiseClosed(SocketClass* socket);

signals:
    void DataReceivedEvent(SocketClass* socket, std::int32_t numbytes);
    void ClosedEvent(SocketClass* socket);
    void ErrorEvent(SocketClass* socket, std::int32_t errornumber);
    void ConnectEvent(SocketClass* socket);

private:
    VelmoraSockets& sockets_;
    bool shutDown_ = false;
};
