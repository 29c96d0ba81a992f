// Connecting an entry through a SOCKS4 server: the request for the target once the server is
// reached (its name looked up here, as SOCKS4 carries an address), and the server's verdict.

#include <sys/socket.h>

#include <QStringList>

#include "core/diagnostics/log_categories.h"
#include "core/types/vb_convert.h"
#include "net/connect_pipeline.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

void ConnectPipeline::socksConnected(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr);
    e->State = EntryState::SocksRequested;
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": reached the SOCKS server, asking for " << e->TargetHost << ":"
        << e->TargetPort;
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
        e->LastError = WinSock::AddressNotAvailable;
        e->State = EntryState::Failed;
        if (e->Owner) {
            e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
        }
        return;
    }
    QByteArray request;
    request.append(char(4)).append(char(1));
    request.append(char((e->TargetPort >> 8) & 0xFF)).append(char(e->TargetPort & 0xFF));
    for (const QString& part : parts) {
        request.append(char(static_cast<int>(RoundHalfEven(LeadingNumber(part))) & 0xFF));
    }
    request.append(char(0));
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": SOCKS4 request for " << e->TargetHost << ":" << e->TargetPort;
    e->SendBuffer = request;
    sockets_.FlushSend(index);
}

void ConnectPipeline::socksReplied(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr);
    // The reply is eight bytes; its verdict is the second.
    if (e->RecvBuffer.size() < 2) {
        return;
    }
    if (static_cast<unsigned char>(e->RecvBuffer[1]) != 90) {
        qCInfo(lcNet).nospace().noquote()
            << "entry " << index << ": the SOCKS server refused " << e->TargetHost << ":"
            << e->TargetPort << " (reply "
            << static_cast<int>(static_cast<unsigned char>(e->RecvBuffer[1])) << ")";
        e->LastError = 0;
        e->State = EntryState::Failed;
        if (e->Owner) {
            e->Owner->RaiseError(0, nullptr);
        }
        return;
    }
    if (e->RecvBuffer.size() < 8) {
        return;
    }
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": the SOCKS server granted "
                                      << e->TargetHost << ":" << e->TargetPort;
    // Whatever the target sent right behind the grant (an FTP greeting) is kept for its owner.
    e->RecvBuffer.remove(0, 8);
    e->State = EntryState::Connected;
    e->SendBuffer.clear();
    e->UseSocks = false;
    if (!e->TlsServerName.isEmpty()) {
        // The server speaks first in TLS only after the client's hello: nothing came early.
        Q_ASSERT(e->RecvBuffer.isEmpty());
        e->RecvBuffer.clear();
        startTls(index);
        return;
    }
    handOverThroughProxy(index);
}
