// The HTTP proxy tunnel of an entry: CONNECT sent once the proxy is reached, the proxy's
// answer read and judged, then TLS (or the owner's own bytes) through it.

#include "net/http_tunnel.h"

#include <sys/socket.h>

#include <cerrno>

#include "core/diagnostics/log_categories.h"
#include "core/urls/parse_url.h"
#include "core/urls/user_agent.h"
#include "net/connect_pipeline.h"
#include "net/connect_reply.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

namespace {

// A status line is the proxy's text: only printable ASCII of it reaches a message.
QString Printable(const QByteArray& line) {
    QString text;
    for (const char c : line.left(200)) {
        text += c >= ' ' && c <= '~' ? QChar::fromLatin1(c) : QChar(u'?');
    }
    return text.trimmed();
}

}  // namespace

QString HostAndPort(const QString& host, std::int32_t port) {
    return HostInUrl(host) + u':' + QString::number(port);
}

QByteArray ConnectRequest(const QString& host, std::int32_t port) {
    // A CR or LF in the name would end the line early; no host name holds one.
    QByteArray target = HostAndPort(host, port).toUtf8();
    target.removeIf([](char c) { return c == '\r' || c == '\n'; });
    // The same name the program gives in its HTTP requests.
    return "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\nUser-Agent: " + UserAgent +
           "\r\n\r\n";
}

void ConnectPipeline::aimTunnel(SocketEntry& e, QString& host, std::int32_t& port) {
    e.Tunnel.phase = e.Tunnel.wanted() ? HttpTunnel::Phase::Connecting : HttpTunnel::Phase::Off;
    if (!e.Tunnel.wanted()) {
        return;
    }
    Q_ASSERT(!e.UseSocks);  // one proxy at a time
    e.TargetHost = host;
    e.TargetPort = port;
    host = e.Tunnel.proxyServer;
    port = e.Tunnel.proxyPort;
}

void ConnectPipeline::tunnelRequest(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && e->Tunnel.phase == HttpTunnel::Phase::Connecting);
    e->State = EntryState::TunnelRequested;
    e->Tunnel.phase = HttpTunnel::Phase::Requested;
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": reached the HTTP proxy, asking for a tunnel to "
        << HostAndPort(e->TargetHost, e->TargetPort);
    e->RecvBuffer.clear();
    e->SendBuffer = ConnectRequest(e->TargetHost, e->TargetPort);
    sockets_.FlushSend(index);
}

void ConnectPipeline::tunnelReadable(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && e->Tunnel.phase == HttpTunnel::Phase::Requested);
    const QString proxy = HostAndPort(e->Tunnel.proxyServer, e->Tunnel.proxyPort);
    const QString target = HostAndPort(e->TargetHost, e->TargetPort);
    // Read here, past the limiter and the owner: the answer is the proxy's, not the target's.
    char chunk[4096];
    ssize_t n;
    do {
        n = ::recv(e->Handle.get(), chunk, sizeof chunk, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
    }
    if (n <= 0) {
        tunnelRefused(index, QStringLiteral("The proxy %1 closed the connection instead of "
                                            "opening the tunnel to %2")
                                 .arg(proxy, target));
        return;
    }
    e->RecvBuffer.append(chunk, n);
    const ConnectReply reply = ParseConnectReply(e->RecvBuffer);
    if (reply.status == ConnectReply::Status::Incomplete) {
        return;
    }
    if (reply.status == ConnectReply::Status::Malformed) {
        tunnelRefused(index, QStringLiteral("The proxy %1 gave no HTTP answer to the request for "
                                            "a tunnel to %2")
                                 .arg(proxy, target));
        return;
    }
    if (reply.code < 200 || reply.code > 299) {
        tunnelRefused(index, QStringLiteral("The proxy %1 refused the tunnel to %2: %3")
                                 .arg(proxy, target, Printable(reply.statusLine)));
        return;
    }
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": the proxy " << proxy << " opened the tunnel to " << target
        << " (" << Printable(reply.statusLine) << ")";
    e->RecvBuffer.remove(0, reply.headLength);
    e->SendBuffer.clear();
    e->Tunnel.phase = HttpTunnel::Phase::Open;
    if (!e->TlsServerName.isEmpty()) {
        // In TLS the client speaks first: a byte before its hello came from the proxy, and no
        // handshake could tell it from the server's.
        if (!e->RecvBuffer.isEmpty()) {
            tunnelRefused(index, QStringLiteral("The proxy %1 sent data of its own into the "
                                                "tunnel to %2")
                                     .arg(proxy, target));
            return;
        }
        startTls(index);
        return;
    }
    // Whatever the target sent right behind the answer is kept for its owner.
    e->State = EntryState::Connected;
    handOverThroughProxy(index);
}

void ConnectPipeline::tunnelRefused(int index, const QString& problem) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr);
    // Asked as a TLS failure's reason is: the owner hears why, the proxy's bytes go.
    e->TlsProblem = problem;
    e->Tunnel.phase = HttpTunnel::Phase::Off;
    e->RecvBuffer.clear();
    e->SendBuffer.clear();
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": " << problem << ", reported as "
                                      << SocketErrorText(WinSock::TunnelRefused);
    e->readReady->setEnabled(false);
    e->writeReady->setEnabled(false);
    sockets_.HandleSocketEvent(index, SocketEvent::ConnectCompleted, WinSock::TunnelRefused);
}
