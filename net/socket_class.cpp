#include "net/socket_class.h"

#include "net/socket_module.h"

SocketClass::SocketClass(VelmoraSockets& sockets, QObject* parent)
    : QObject(parent), sockets_(sockets) {
    SocketIndex = sockets_.AllocateEntry(0);
    if (SocketEntry* e = sockets_.entry(SocketIndex)) {
        // A free entry has no owner; this object is its only one until it shuts down.
        Q_ASSERT(!e->Owner);
        e->Owner = this;
    }
}

SocketClass::~SocketClass() {
    ShutDown();
}

void SocketClass::SetSocks(const SocksProxy& proxy) {
    if (SocketEntry* e = sockets_.entry(SocketIndex)) {
        e->UseSocks = true;
        e->SocksServer = proxy.server;
        e->SocksPort = proxy.port;
        e->Socks = SocksHandshake{proxy.version == 4 ? 4 : 5, proxy.user, proxy.password,
                                  proxy.remoteNames};
    }
}

void SocketClass::SetHttpTunnel(const QString& proxyServer, std::int32_t proxyPort,
                                const QString& user, const QString& password) {
    if (SocketEntry* e = shutDown_ ? nullptr : sockets_.entry(SocketIndex)) {
        e->Tunnel.proxyServer = proxyServer;
        e->Tunnel.proxyPort = proxyPort;
        e->Tunnel.user = user;
        e->Tunnel.password = password;
    }
}

void SocketClass::SetTls(const QString& serverName) {
    if (!shutDown_) {
        sockets_.SetEntryTls(SocketIndex, serverName);
    }
}

QString SocketClass::TlsProblem() const {
    const SocketEntry* e = shutDown_ ? nullptr : sockets_.entry(SocketIndex);
    return e != nullptr ? e->TlsProblem : QString();
}

TlsFailure SocketClass::TlsFailureCause() const {
    const SocketEntry* e = shutDown_ ? nullptr : sockets_.entry(SocketIndex);
    return e != nullptr ? e->TlsFailureCause : TlsFailure{};
}

QByteArray SocketClass::TlsPeerFingerprint() const {
    const SocketEntry* e = shutDown_ ? nullptr : sockets_.entry(SocketIndex);
    return e != nullptr ? e->TlsPeerFingerprint : QByteArray();
}

bool SocketClass::TlsClosedCleanly() const {
    const SocketEntry* e = shutDown_ ? nullptr : sockets_.entry(SocketIndex);
    return e != nullptr && e->TlsClosedCleanly;
}

void SocketClass::Connect(const QString& server, std::int32_t port) {
    if (!shutDown_) {
        sockets_.ConnectEntry(SocketIndex, server, port);
    }
}

void SocketClass::CloseSocket() {
    if (!shutDown_) {
        sockets_.CloseEntry(SocketIndex);
    }
}

void SocketClass::SendData(const QByteArray& data) {
    if (!shutDown_) {
        sockets_.QueueSend(SocketIndex, data);
    }
}

QByteArray SocketClass::GetData() {
    SocketEntry* e = shutDown_ ? nullptr : sockets_.entry(SocketIndex);
    return e != nullptr ? std::exchange(e->RecvBuffer, QByteArray()) : QByteArray();
}

QString SocketClass::PeerAddress() const {
    return shutDown_ ? QString() : sockets_.PeerAddress(SocketIndex);
}

void SocketClass::ShutDown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    SocketEntry* e = sockets_.entry(SocketIndex);
    if (e != nullptr && e->Owner == this) {
        sockets_.CloseEntry(SocketIndex);
        sockets_.ReleaseEntry(SocketIndex);
    }
}

void SocketClass::RaiseDataReceived(std::int32_t numbytes, SocketClass* socket) {
    if (EventSocket) {
        EventSocket->RaiseDataReceived(numbytes, this);
    } else {
        emit DataReceivedEvent(socket, numbytes);
    }
}

void SocketClass::RaiseError(std::int32_t errornumber, SocketClass* socket) {
    if (EventSocket) {
        EventSocket->RaiseError(errornumber, this);
    } else {
        emit ErrorEvent(socket, errornumber);
    }
}

void SocketClass::RaiseConnect(SocketClass* socket) {
    if (EventSocket) {
        EventSocket->RaiseConnect(this);
    } else {
        emit ConnectEvent(socket);
    }
}

void SocketClass::RaiseClosed(SocketClass* socket) {
    if (EventSocket) {
        EventSocket->RaiseClosed(this);
    } else {
        emit ClosedEvent(socket);
    }
}
