#pragma once

#include <QString>
#include <cstdint>
#include <functional>

class QObject;
class SocketClass;
struct Settings;

// The way one connection reaches its server: straight, through an HTTP proxy (plain requests
// name the full address; https:// and anything else go in a CONNECT tunnel), or through a
// SOCKS4 or SOCKS5 server.
struct ProxyRoute {
    enum class Kind : std::uint8_t { Direct, Http, Socks4, Socks5 };
    Kind kind = Kind::Direct;
    QString host;
    std::int32_t port = 0;
    QString user;  // empty: no login
    QString password;
    // SOCKS5: the proxy resolves the target's name (socks5h://); false: resolved here.
    bool remoteNames = true;
    // Set: no route could be found (the system's settings give no proxy that can be used);
    // no connection is made, never a direct one instead, and this is the reason.
    QString problem{};

    bool direct() const { return kind == Kind::Direct; }
    // "socks5h://127.0.0.1:1080", "http://proxy.lan:3128" (a login as "user@"), "direct": for
    // the log and brenloft-get -v; never the password.
    QString describe() const;
    friend bool operator==(const ProxyRoute&, const ProxyRoute&) = default;
};

// The route the options give for an address of `protocol` (Protocol::Http, Https, Ftp).
ProxyRoute ProxyRouteFor(const Settings& settings, std::int16_t protocol);

// Where routes come from when the options' proxies are not used: the desktop's own proxy
// settings, brenloft-get's environment variables. Set in EngineContext::proxyResolver.
class ProxyResolver {
public:
    using Done = std::function<void(const ProxyRoute& route)>;
    virtual ~ProxyResolver() = default;
    // The route for `url` (as stored, encoded). `done` is called once, at once or later from
    // the event loop (a PAC file may have to be fetched and run); never after the resolver is
    // gone.
    virtual void resolve(const QString& url, Done done) = 0;
};

// Whether a request along `route` goes to a plain HTTP proxy and so names the full address.
bool ThroughPlainHttpProxy(std::int16_t protocol, const ProxyRoute& route);

// Sets up `socket` for the server at `host`:`port` along `route` (TLS for https://, the
// tunnel, SOCKS) and connects it.
void ConnectAlong(SocketClass& socket, std::int16_t protocol, const QString& host,
                  std::int32_t port, const ProxyRoute& route);

// The route for `url` (of `protocol`): the resolver's when there is one, else the options'.
// `done` runs at once or later from the event loop, and never once `guard` is gone.
void DecideRoute(ProxyResolver* resolver, const Settings& settings, std::int16_t protocol,
                 const QString& url, QObject* guard, ProxyResolver::Done done);

// The value of "Proxy-Authorization" for the route's login; empty when it has none.
QByteArray ProxyAuthorization(const ProxyRoute& route);
