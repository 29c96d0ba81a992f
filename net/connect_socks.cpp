// Connecting an entry through a SOCKS server: the SOCKS4 request for the target once the server
// is reached (its name looked up here, as SOCKS4 carries an address), the server's answers read
// as they come, and its verdict.

#include <sys/socket.h>

#include <QStringList>

#include "core/diagnostics/log_categories.h"
#include "core/types/vb_convert.h"
#include "net/connect_pipeline.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/socks_messages.h"
#include "net/winsock_errors.h"

void ConnectPipeline::socksConnected(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr);
    e->State = EntryState::SocksRequested;
    e->RecvBuffer.clear();
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": reached the SOCKS" << e->Socks.version << " server, asking for "
        << e->TargetHost << ":" << e->TargetPort;
    if (e->Socks.version == 5) {
        socksSend(index, Socks5Greeting(!e->Socks.user.isEmpty()), SocksHandshake::Phase::Greeting);
        return;
    }
    // SOCKS4 carries an address: a target given by name is looked up here, not by the server.
    if (RoundHalfEven(LeadingNumber(e->TargetHost.split(u'.').first())) != 0) {
        socksRequest(index);
        return;
    }
    lookUp(index, e->TargetHost, AF_INET,
           [this](int i, const std::vector<sockaddr_storage>& found) {
               socksTargetLookedUp(i, found);
           });
}

void ConnectPipeline::socksTargetLookedUp(int index, const std::vector<sockaddr_storage>& found) {
    SocketEntry* e = sockets_.entry(index);
    if (e->State != EntryState::SocksRequested) {
        // The server closed the connection, or it failed, while the name was looked up.
        return;
    }
    if (!found.empty()) {
        e->TargetHost = AddressText(found.front());  // IPv4 only, without a port
    }
    socksRequest(index);
}

void ConnectPipeline::socksRequest(int index) {
    SocketEntry* e = sockets_.entry(index);
    const QStringList parts = e->TargetHost.split(u'.');
    if (parts.size() != 4) {
        socksTargetNotFound(index);
        return;
    }
    QByteArray request;
    request.append(char(4)).append(char(1));
    request.append(char((e->TargetPort >> 8) & 0xFF)).append(char(e->TargetPort & 0xFF));
    for (const QString& part : parts) {
        request.append(char(static_cast<int>(RoundHalfEven(LeadingNumber(part))) & 0xFF));
    }
    // The user id ends with a zero byte: one inside it would end it early.
    QByteArray user = e->Socks.user.toUtf8();
    user.removeIf([](char c) { return c == '\0'; });
    request.append(user).append(char(0));
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": SOCKS4 request for " << e->TargetHost << ":" << e->TargetPort;
    socksSend(index, request, SocksHandshake::Phase::Request4);
}

void ConnectPipeline::socksSend(int index, const QByteArray& bytes, SocksHandshake::Phase next) {
    SocketEntry* e = sockets_.entry(index);
    e->Socks.phase = next;
    e->SendBuffer = bytes;
    sockets_.FlushSend(index);
}

void ConnectPipeline::socksTargetNotFound(int index) {
    SocketEntry* e = sockets_.entry(index);
    e->LastError = WinSock::AddressNotAvailable;
    e->State = EntryState::Failed;
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
    }
}

void ConnectPipeline::socksReadable(int index) {
    if (!proxyReceived(index, QStringLiteral("the SOCKS proxy closed the connection"))) {
        return;
    }
    SocketEntry* e = sockets_.entry(index);
    switch (e->Socks.phase) {
        case SocksHandshake::Phase::Request4:
            socksAnswered(index, ParseSocks4Reply(e->RecvBuffer));
            return;
        case SocksHandshake::Phase::Greeting:
            socks5MethodChosen(index);
            return;
        case SocksHandshake::Phase::Login:
            socks5LoginAnswered(index);
            return;
        case SocksHandshake::Phase::Request5:
            socksAnswered(index, ParseSocks5Reply(e->RecvBuffer));
            return;
        case SocksHandshake::Phase::Off:
            break;
    }
    proxyRefused(index, SocksNonsense());
}

void ConnectPipeline::socksAnswered(int index, const SocksReply& reply) {
    SocketEntry* e = sockets_.entry(index);
    switch (reply.status) {
        case SocksReply::Status::Incomplete:
            return;
        case SocksReply::Status::Malformed:
            proxyRefused(index, SocksNonsense());
            return;
        case SocksReply::Status::Refused:
            proxyRefused(index, SocksRefusalText(e->Socks.version, reply.code));
            return;
        case SocksReply::Status::Granted:
            break;
    }
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": the SOCKS server granted "
                                      << e->TargetHost << ":" << e->TargetPort;
    // Asked for again next time; the login is not kept longer than needed.
    e->UseSocks = false;
    e->Socks = {};
    proxyGranted(index, reply.length,
                 QStringLiteral("the SOCKS proxy sent data of its own ahead of TLS"));
}

QString ConnectPipeline::SocksNonsense() {
    return QStringLiteral("the SOCKS proxy gave no SOCKS answer");
}
