#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <functional>

#include "engine/http/proxy_route.h"

struct pxProxyFactory_;

// The route the desktop's own proxy settings give each address, through libproxy: the
// environment (http_proxy, no_proxy...), GNOME's and KDE's settings, a PAC file. libproxy
// blocks (it may fetch and run the PAC file), so it is asked on a thread of its own; the
// answer comes back on the thread that asked. An answer is kept a minute for its scheme and
// host, so that the segments of one download and its neighbours do not ask again.
class SystemProxyResolver : public QObject, public ProxyResolver {
    Q_OBJECT
public:
    // Milliseconds from any fixed start; tests move it on to see answers expire.
    using Clock = std::function<qint64()>;

    explicit SystemProxyResolver(Clock clock = {}, QObject* parent = nullptr);
    ~SystemProxyResolver() override;

    void resolve(const QString& url, Done done) override;

    static constexpr qint64 KeptMs = 60 * 1000;

private:
    struct Kept {
        ProxyRoute route;
        qint64 at = 0;
    };
    void answered(const QString& key, const QStringList& proxies);

    Clock clock_;
    pxProxyFactory_* factory_ = nullptr;
    QHash<QString, Kept> kept_;
    QHash<QString, QList<Done>> waiting_;  // per key: the callers of the question under way
    QThreadPool pool_;
};

// The first of libproxy's answers that a connection can take ("direct://", "http://",
// "socks4://", "socks5://", "socks://" as SOCKS5, with "user:password@" when given), or
// nothing when none can.
std::optional<ProxyRoute> RouteFromSystemProxies(const QStringList& proxies);
