#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Reaching a target through an HTTP proxy: the entry connects to the proxy, asks it with
// CONNECT for a tunnel to the target, and once the proxy agrees speaks to the target (TLS
// first, if the entry has a server name) as if connected directly.
struct HttpTunnel {
    enum class Phase { Off, Connecting, Requested, Open };
    QString proxyServer;  // empty: the next Connect goes straight to its target
    std::int32_t proxyPort = 0;
    // The proxy's login, sent only after it answered 407 to a request without one.
    QString user;
    QString password;
    bool authorize = false;  // this connection to the proxy asks with the login
    Phase phase = Phase::Off;

    bool wanted() const { return !proxyServer.isEmpty(); }
};

// "host:port", an IPv6 literal in brackets: the form CONNECT names its target in.
QString HostAndPort(const QString& host, std::int32_t port);

// The request that asks a proxy for a tunnel to host:port; with a login when `user` is set.
QByteArray ConnectRequest(const QString& host, std::int32_t port, const QString& user = {},
                          const QString& password = {});
