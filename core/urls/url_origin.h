#pragma once

#include <QString>
#include <cstdint>

struct ParsedUrl;

// Where an address leads, as far as who may be told what: scheme, host and port. Logins and
// full addresses stay within one origin.
struct UrlOrigin {
    std::int16_t protocol = 0;
    QString host;  // without brackets, as ParsedUrl holds it
    std::int32_t port = 0;
};

UrlOrigin OriginOf(const ParsedUrl& parsed);

// Same scheme and port, host names in any letter case.
bool SameOrigin(const UrlOrigin& a, const UrlOrigin& b);

// The one move a login may make off its origin: from plain http on port 80 to https on 443 of
// the same host, where nobody on the way can read it.
bool SecureFormOf(const UrlOrigin& from, const UrlOrigin& to);

// "scheme://host", with ":port" when not the scheme's default; the host in lower case.
QString OriginText(const UrlOrigin& origin);
