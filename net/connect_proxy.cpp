// Connecting an entry through a proxy, what SOCKS and the HTTP tunnel share: the proxy's answer
// read past the limiter and the owner, its refusal reported with the reason, and the hand-over
// once it granted the connection.

#include <sys/socket.h>

#include <cerrno>

#include "core/diagnostics/log_categories.h"
#include "net/connect_pipeline.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

bool ConnectPipeline::proxyReceived(int index, const QString& closed) {
    SocketEntry* e = sockets_.entry(index);
    char chunk[4096];
    ssize_t n;
    do {
        n = ::recv(e->Handle.get(), chunk, sizeof chunk, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return false;
    }
    if (n <= 0) {
        proxyRefused(index, closed);
        return false;
    }
    e->RecvBuffer.append(chunk, n);
    return true;
}

void ConnectPipeline::proxyGranted(int index, qsizetype replyLength, const QString& aheadOfTls) {
    SocketEntry* e = sockets_.entry(index);
    e->RecvBuffer.remove(0, replyLength);
    e->SendBuffer.clear();
    if (!e->TlsServerName.isEmpty()) {
        // In TLS the client speaks first: a byte before its hello came from the proxy, and no
        // handshake could tell it from the server's.
        if (!e->RecvBuffer.isEmpty()) {
            proxyRefused(index, aheadOfTls);
            return;
        }
        startTls(index);
        return;
    }
    // Whatever the target sent right behind the grant (an FTP greeting) is kept for its owner.
    e->State = EntryState::Connected;
    handOverThroughProxy(index);
}

void ConnectPipeline::handOverThroughProxy(int index) {
    SocketEntry* e = sockets_.entry(index);
    const auto early = static_cast<std::int32_t>(e->RecvBuffer.size());
    const std::uint64_t generation = e->generation;
    if (e->Owner) {
        e->Owner->RaiseConnect(nullptr);
    }
    e = sockets_.entry(index);
    if (early > 0 && e != nullptr && e->generation == generation && e->Owner) {
        e->Owner->RaiseDataReceived(early, nullptr);
    }
}

void ConnectPipeline::proxyRefused(int index, const QString& problem) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr);
    // Asked as a TLS failure's reason is: the owner hears why, the proxy's bytes go. The proxy
    // was for this connection only.
    e->TlsProblem = problem;
    e->Tunnel.phase = HttpTunnel::Phase::Off;
    e->UseSocks = false;
    e->Socks = {};
    e->RecvBuffer.clear();
    e->SendBuffer.clear();
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": " << problem << ", reported as "
                                      << SocketErrorText(WinSock::TunnelRefused);
    e->readReady->setEnabled(false);
    e->writeReady->setEnabled(false);
    sockets_.HandleSocketEvent(index, SocketEvent::ConnectCompleted, WinSock::TunnelRefused);
}
