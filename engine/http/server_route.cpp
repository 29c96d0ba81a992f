#include "engine/http/server_route.h"

#include "core/download_list/records.h"
#include "core/settings/settings.h"
#include "net/socket_class.h"

bool ThroughPlainHttpProxy(std::int16_t protocol, const Settings& settings) {
    // Inside the proxy's tunnel the requests are those a direct connection sends.
    return settings.ProxyHTTP == FlagTrue && protocol != Protocol::Https;
}

void ConnectToServer(SocketClass& socket, std::int16_t protocol, const QString& host,
                     std::int32_t port, const Settings& settings) {
    const bool proxy = settings.ProxyHTTP == FlagTrue;
    // The setting holds the port in 16 bits: one above 32767 reads as negative.
    const std::int32_t proxyPort = static_cast<std::uint16_t>(settings.ProxyPort);
    if (protocol == Protocol::Https) {
        socket.SetTls(host);
        if (proxy) {
            socket.SetHttpTunnel(settings.ProxyServer, proxyPort);
        }
        socket.Connect(host, port);
    } else if (proxy) {
        socket.Connect(settings.ProxyServer, proxyPort);
    } else {
        socket.Connect(host, port);
    }
}
