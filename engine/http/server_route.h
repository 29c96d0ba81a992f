#pragma once

#include <QString>
#include <cstdint>

class SocketClass;
struct Settings;

// How every HTTP(S) connection of the program reaches its server: an https:// address speaks
// TLS, through the HTTP proxy inside a CONNECT tunnel, so the proxy sees no more than the host
// and port; a plain one goes to the proxy itself, which is then sent the full address.

// Whether the request goes to the plain HTTP proxy and names the full address.
bool ThroughPlainHttpProxy(std::int16_t protocol, const Settings& settings);

// Sets up `socket` for the server at `host`:`port` (TLS, tunnel) and connects it, to the
// server or to the proxy the settings name.
void ConnectToServer(SocketClass& socket, std::int16_t protocol, const QString& host,
                     std::int32_t port, const Settings& settings);
