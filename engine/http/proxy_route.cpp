#include "engine/http/proxy_route.h"

#include <QPointer>

#include "core/download_list/records.h"
#include "core/settings/settings.h"
#include "engine/http/base64.h"
#include "net/http_tunnel.h"
#include "net/socket_class.h"

QString ProxyRoute::describe() const {
    if (!problem.isEmpty()) {
        return QStringLiteral("no route: ") + problem;
    }
    QString scheme;
    switch (kind) {
        case Kind::Direct:
            return QStringLiteral("direct");
        case Kind::Http:
            scheme = QStringLiteral("http");
            break;
        case Kind::Socks4:
            scheme = QStringLiteral("socks4");
            break;
        case Kind::Socks5:
            scheme = remoteNames ? QStringLiteral("socks5h") : QStringLiteral("socks5");
            break;
    }
    const QString login = user.isEmpty() ? QString() : user + u'@';
    return scheme + QStringLiteral("://") + login + HostAndPort(host, port);
}

ProxyRoute ProxyRouteFor(const Settings& settings, std::int16_t /*protocol*/) {
    ProxyRoute route;
    if (settings.ProxyHTTP == FlagTrue) {
        route.kind = ProxyRoute::Kind::Http;
        route.host = settings.ProxyServer;
        // The setting holds the port in 16 bits: one above 32767 reads as negative.
        route.port = static_cast<std::uint16_t>(settings.ProxyPort);
        route.user = settings.ProxyUser;
        route.password = settings.ProxyPassword;
    } else if (settings.SocksVersion == 4 || settings.SocksVersion == 5) {
        route.kind =
            settings.SocksVersion == 4 ? ProxyRoute::Kind::Socks4 : ProxyRoute::Kind::Socks5;
        route.host = settings.SocksServer;
        route.port = static_cast<std::uint16_t>(settings.SocksPort);
        route.user = settings.SocksUser;
        route.password = settings.SocksPassword;
    }
    return route;
}

bool ThroughPlainHttpProxy(std::int16_t protocol, const ProxyRoute& route) {
    // Inside the proxy's tunnel the requests are those a direct connection sends.
    return route.kind == ProxyRoute::Kind::Http && protocol != Protocol::Https;
}

void ConnectAlong(SocketClass& socket, std::int16_t protocol, const QString& host,
                  std::int32_t port, const ProxyRoute& route) {
    if (!route.problem.isEmpty()) {
        // A name that cannot be looked up: the connection fails as an unknown host would.
        socket.Connect(QString(), port);
        return;
    }
    if (protocol == Protocol::Https) {
        socket.SetTls(host);
    }
    switch (route.kind) {
        case ProxyRoute::Kind::Direct:
            socket.Connect(host, port);
            return;
        case ProxyRoute::Kind::Http:
            if (protocol == Protocol::Https) {
                socket.SetHttpTunnel(route.host, route.port, route.user, route.password);
                socket.Connect(host, port);
            } else {
                socket.Connect(route.host, route.port);
            }
            return;
        case ProxyRoute::Kind::Socks4:
        case ProxyRoute::Kind::Socks5:
            socket.SetSocks(SocksProxy{route.kind == ProxyRoute::Kind::Socks4 ? 4 : 5, route.host,
                                       route.port, route.user, route.password, route.remoteNames});
            socket.Connect(host, port);
            return;
    }
}

void DecideRoute(ProxyResolver* resolver, const Settings& settings, std::int16_t protocol,
                 const QString& url, QObject* guard, ProxyResolver::Done done) {
    if (resolver == nullptr) {
        done(ProxyRouteFor(settings, protocol));
        return;
    }
    resolver->resolve(
        url, [alive = QPointer<QObject>(guard), done = std::move(done)](const ProxyRoute& route) {
            if (alive) {
                done(route);
            }
        });
}

QByteArray ProxyAuthorization(const ProxyRoute& route) {
    if (route.user.isEmpty()) {
        return {};
    }
    return "Basic " + Base64(route.user + u':' + route.password);
}
