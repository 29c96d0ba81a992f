#include "integration/system/system_proxy_resolver.h"

#include <proxy.h>

#include <QElapsedTimer>
#include <QUrl>

#include "core/diagnostics/log_categories.h"

namespace {

qint64 SteadyMs() {
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

// Where an answer is kept: the scheme and host, as the settings tell proxies apart.
QString KeyOf(const QString& url) {
    const QUrl parsed(url);
    return parsed.scheme().toLower() + QStringLiteral("://") + parsed.host().toLower();
}

// One factory for the life of the process, never freed: freeing it unloads libproxy's PAC
// plugin, whose JavaScript engine leaves per-thread state behind that is torn down when the
// asking thread ends, then in unloaded code.
pxProxyFactory* SharedFactory() {
    static pxProxyFactory* const factory = px_proxy_factory_new();
    return factory;
}

QStringList AskLibproxy(pxProxyFactory* factory, const QString& url) {
    QStringList proxies;
    char** answer = px_proxy_factory_get_proxies(factory, url.toUtf8().constData());
    for (char** proxy = answer; proxy != nullptr && *proxy != nullptr; ++proxy) {
        proxies << QString::fromUtf8(*proxy);
    }
    px_proxy_factory_free_proxies(answer);
    return proxies;
}

std::optional<ProxyRoute::Kind> KindOf(const QString& scheme) {
    if (scheme == u"http") {
        return ProxyRoute::Kind::Http;
    }
    if (scheme == u"socks4") {
        return ProxyRoute::Kind::Socks4;
    }
    // "socks" asks for version 5 first; servers that know both take it.
    if (scheme == u"socks5" || scheme == u"socks") {
        return ProxyRoute::Kind::Socks5;
    }
    return std::nullopt;
}

}  // namespace

std::optional<ProxyRoute> RouteFromSystemProxies(const QStringList& proxies) {
    for (const QString& proxy : proxies) {
        const QUrl url(proxy);
        const QString scheme = url.scheme().toLower();
        if (scheme == u"direct") {
            return ProxyRoute{};
        }
        const auto kind = KindOf(scheme);
        if (!kind || url.host().isEmpty()) {
            continue;
        }
        ProxyRoute route;
        route.kind = *kind;
        route.host = url.host();
        route.port = url.port(*kind == ProxyRoute::Kind::Http ? 80 : 1080);
        route.user = url.userName();
        route.password = url.password();
        return route;
    }
    return std::nullopt;
}

SystemProxyResolver::SystemProxyResolver(Clock clock, QObject* parent)
    : QObject(parent), clock_(clock ? std::move(clock) : Clock(SteadyMs)) {
    factory_ = SharedFactory();
    // One question at a time: a PAC file is fetched once, not by every thread at once.
    pool_.setMaxThreadCount(1);
}

SystemProxyResolver::~SystemProxyResolver() {
    // The thread may be inside libproxy; its answer, posted to this object, is dropped with it.
    pool_.waitForDone();
}

void SystemProxyResolver::resolve(const QString& url, Done done) {
    const QString key = KeyOf(url);
    if (const auto kept = kept_.constFind(key);
        kept != kept_.constEnd() && clock_() - kept->at < KeptMs) {
        done(kept->route);
        return;
    }
    QList<Done>& waiting = waiting_[key];
    waiting << std::move(done);
    if (waiting.size() > 1) {
        return;  // asked already: answered with the others
    }
    if (factory_ == nullptr) {
        answered(key, {});
        return;
    }
    pool_.start([this, key, url, factory = factory_] {
        const QStringList proxies = AskLibproxy(factory, url);
        QMetaObject::invokeMethod(
            this, [this, key, proxies] { answered(key, proxies); }, Qt::QueuedConnection);
    });
}

void SystemProxyResolver::answered(const QString& key, const QStringList& proxies) {
    const std::optional<ProxyRoute> usable = RouteFromSystemProxies(proxies);
    ProxyRoute route = usable.value_or(ProxyRoute{});
    if (!usable) {
        // Nothing a connection can take (an error, or only kinds of proxy not known here): no
        // connection is made, rather than one that goes around the proxy.
        route.problem = proxies.isEmpty()
                            ? QStringLiteral("the system's proxy settings could not be read")
                            : QStringLiteral(
                                  "the system's proxy settings give no proxy that can "
                                  "be used: %1")
                                  .arg(proxies.join(QStringLiteral(", ")));
    }
    qCInfo(lcNet).noquote() << "system proxy for" << key << ":" << route.describe();
    kept_.insert(key, {route, clock_()});
    const QList<Done> waiting = waiting_.take(key);
    for (const Done& done : waiting) {
        done(route);
    }
}
