#include "cli/proxy_address.h"

#include <QUrl>

namespace {

struct Scheme {
    const char* name;
    ProxyRoute::Kind kind;
    bool remoteNames;
    int defaultPort;
};

constexpr Scheme Schemes[] = {
    {"http", ProxyRoute::Kind::Http, true, 80},
    {"socks4", ProxyRoute::Kind::Socks4, false, 1080},
    {"socks5", ProxyRoute::Kind::Socks5, false, 1080},
    {"socks5h", ProxyRoute::Kind::Socks5, true, 1080},
};

}  // namespace

std::optional<ProxyRoute> ParseProxyAddress(const QString& text) {
    const bool bare = !text.contains(QStringLiteral("://"));
    const QUrl url(bare ? QStringLiteral("http://") + text : text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const Scheme* known = nullptr;
    for (const Scheme& s : Schemes) {
        known = scheme == QLatin1String(s.name) ? &s : known;
    }
    // A bare HOST:PORT names its port: "proxy.lan" alone is more likely a mistake than port 80.
    const bool portMissing = url.port() == -1 && bare;
    const bool onlyServer =
        (url.path().isEmpty() || url.path() == u'/') && !url.hasQuery() && !url.hasFragment();
    if (!url.isValid() || known == nullptr || url.host().isEmpty() || portMissing ||
        url.port() == 0 || !onlyServer) {
        return std::nullopt;
    }
    ProxyRoute route;
    route.kind = known->kind;
    route.remoteNames = known->remoteNames;
    route.host = url.host();
    route.port = url.port(known->defaultPort);
    route.user = url.userName(QUrl::FullyDecoded);
    route.password = url.password(QUrl::FullyDecoded);
    return route;
}
