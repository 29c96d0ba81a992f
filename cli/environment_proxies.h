#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

#include "engine/http/proxy_route.h"

// A route and where it was chosen: "--proxy", "--no-proxy", the variable that named it
// ("all_proxy", "no_proxy"), or empty when no variable names a proxy for the address.
struct ProxyChoice {
    ProxyRoute route;
    QString from;
};

// brenloft-get's proxies: the --proxy route (or none with --no-proxy) for every address, or
// else the environment's as curl and wget read it. For http:// only http_proxy (HTTP_PROXY is
// left alone: a CGI program finds a request's "Proxy:" header there), for https:// and ftp://
// https_proxy or ftp_proxy before their upper case, then all_proxy and ALL_PROXY; no_proxy (or
// NO_PROXY) lists the hosts reached directly: names that match themselves and their
// subdomains ("example.org", ".example.org"), addresses, networks ("10.0.0.0/8"), any of
// them with ":PORT", or "*" for every host.
class EnvironmentProxies : public ProxyResolver {
public:
    explicit EnvironmentProxies(const QProcessEnvironment& environment);
    // Every address along `route`, the environment unread.
    EnvironmentProxies(const ProxyRoute& route, const QString& from);

    // Empty, or the variable whose value is no proxy address, named.
    const QString& error() const { return error_; }
    ProxyChoice choose(const QString& url) const;
    void resolve(const QString& url, Done done) override { done(choose(url).route); }

private:
    struct Variable {
        QString name;
        ProxyRoute route;
    };
    // The first of `names` set to something, read; error_ names it when it is no proxy.
    std::optional<Variable> firstSet(const QStringList& names);
    bool bypassed(const QString& host, int port) const;

    const QProcessEnvironment environment_;
    std::optional<ProxyChoice> fixed_;
    std::optional<Variable> http_, https_, ftp_, all_;
    QString noProxyFrom_;
    QStringList noProxy_;
    QString error_;
};
