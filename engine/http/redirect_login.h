#pragma once

#include <QString>
#include <cstdint>

// Where a download's login may go. A login is given to one host over one kind of connection:
// a redirect to another host, or from https:// to a plain address where anyone on the way
// could read it, leaves it behind.

// Whether the login of an address of `fromProtocol` on `fromHost` goes on to the address a
// redirect names (host names compared in any letter case).
bool LoginFollowsRedirect(std::int16_t fromProtocol, const QString& fromHost,
                          std::int16_t toProtocol, const QString& toHost);

// Whether a login remembered for the host may fill in a request for an address of `protocol`.
// Not for a plain address that an https:// one sent the download to: `leftTls` says a redirect
// of this session did, and `referer` (the address a redirect came from) says so after a pause.
bool RememberedLoginAllowed(std::int16_t protocol, const QString& referer, bool leftTls);
