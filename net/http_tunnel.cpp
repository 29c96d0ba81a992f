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

QByteArray ConnectRequest(const QString& host, std::int32_t port, const QString& user,
                          const QString& password) {
    // A CR or LF in the name would end the line early; no host name holds one.
    QByteArray target = HostAndPort(host, port).toUtf8();
    target.removeIf([](char c) { return c == '\r' || c == '\n'; });
    // The same name the program gives in its HTTP requests.
    QByteArray request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target +
                         "\r\nUser-Agent: " + UserAgent + "\r\n";
    if (!user.isEmpty()) {
        // Base64 holds no CR or LF, whatever the login holds.
        request +=
            "Proxy-Authorization: Basic " + (user + u':' + password).toUtf8().toBase64() + "\r\n";
    }
    return request + "\r\n";
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
        << HostAndPort(e->TargetHost, e->TargetPort)
        << (e->Tunnel.authorize ? " with the login" : "");
    e->RecvBuffer.clear();
    e->SendBuffer = e->Tunnel.authorize ? ConnectRequest(e->TargetHost, e->TargetPort,
                                                         e->Tunnel.user, e->Tunnel.password)
                                        : ConnectRequest(e->TargetHost, e->TargetPort);
    sockets_.FlushSend(index);
}

void ConnectPipeline::tunnelReadable(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && e->Tunnel.phase == HttpTunnel::Phase::Requested);
    const QString proxy = HostAndPort(e->Tunnel.proxyServer, e->Tunnel.proxyPort);
    const QString target = HostAndPort(e->TargetHost, e->TargetPort);
    if (!proxyReceived(index, QStringLiteral("The proxy %1 closed the connection instead of "
                                             "opening the tunnel to %2")
                                  .arg(proxy, target))) {
        return;
    }
    const ConnectReply reply = ParseConnectReply(e->RecvBuffer);
    if (reply.status == ConnectReply::Status::Incomplete) {
        return;
    }
    if (reply.status == ConnectReply::Status::Malformed) {
        proxyRefused(index, QStringLiteral("The proxy %1 gave no HTTP answer to the request for "
                                           "a tunnel to %2")
                                .arg(proxy, target));
        return;
    }
    // Some proxies (tinyproxy) turn a wrong login away with 401 rather than a second 407.
    if (reply.code == 407 || (reply.code == 401 && e->Tunnel.authorize)) {
        tunnelLoginWanted(index);
        return;
    }
    if (reply.code < 200 || reply.code > 299) {
        proxyRefused(index, QStringLiteral("The proxy %1 refused the tunnel to %2: %3")
                                .arg(proxy, target, Printable(reply.statusLine)));
        return;
    }
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": the proxy " << proxy << " opened the tunnel to " << target
        << " (" << Printable(reply.statusLine) << ")";
    e->Tunnel.phase = HttpTunnel::Phase::Open;
    proxyGranted(index, reply.headLength,
                 QStringLiteral("The proxy %1 sent data of its own into the tunnel to %2")
                     .arg(proxy, target));
}

void ConnectPipeline::tunnelLoginWanted(int index) {
    SocketEntry* e = sockets_.entry(index);
    const QString proxy = HostAndPort(e->Tunnel.proxyServer, e->Tunnel.proxyPort);
    const QString target = HostAndPort(e->TargetHost, e->TargetPort);
    if (e->Tunnel.user.isEmpty()) {
        proxyRefused(index, QStringLiteral("The proxy %1 asks for a login to open the tunnel to %2")
                                .arg(proxy, target));
        return;
    }
    if (e->Tunnel.authorize) {
        proxyRefused(index, QStringLiteral("The proxy %1 refused the login for the tunnel to %2")
                                .arg(proxy, target));
        return;
    }
    // The proxy may close after its 407 whatever it says: the login goes on a new connection.
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": the proxy " << proxy << " asks for a login; asking again";
    const QString host = e->TargetHost;
    sockets_.dropHandle(index);
    start(index, host, e->TargetPort);
    e = sockets_.entry(index);
    // Only now: start() has connected nothing yet, the request goes once the proxy is reached.
    e->Tunnel.authorize = true;
}
