#pragma once

#include <QString>
#include <optional>

#include "engine/http/proxy_route.h"

// A proxy as curl and wget users write it: http://, socks4://, socks5:// (names resolved
// here) or socks5h:// (names resolved by the proxy), an optional USER:PASSWORD@ (percent-
// encoded), the host and an optional port (1080 for SOCKS, 80 for http), or HOST:PORT alone
// for an HTTP proxy. Nothing when the text is none of these.
std::optional<ProxyRoute> ParseProxyAddress(const QString& text);
