#pragma once

#include <QString>
#include <cstdint>

#include "core/urls/url_origin.h"

// Where a download's login, and the address it came from, may go. A login is given to one
// origin (scheme, host, port): a redirect to another host or port, to ftp://, or from https://
// to a plain address where anyone on the way could read it, leaves it behind.

// Whether the login of an address of origin `from` goes on to the address a redirect names:
// the same origin, or the same host's https:// on the default ports.
bool LoginFollowsRedirect(const UrlOrigin& from, const UrlOrigin& to);

// The Referer the request after a redirect from `fromPath` on `from` to `to` carries, as
// browsers write it: never a login; the origin alone ("http://h:8080/") when `to` is another
// origin, the whole address when it is the same.
QString RefererAfterRedirect(const UrlOrigin& from, const QString& fromPath, const UrlOrigin& to);

// Whether a login remembered for the host may fill in a request for an address of `protocol`.
// Not for a plain address that an https:// one sent the download to: `leftTls` says a redirect
// of this session did, and `referer` (the address a redirect came from) says so after a pause.
bool RememberedLoginAllowed(std::int16_t protocol, const QString& referer, bool leftTls);
