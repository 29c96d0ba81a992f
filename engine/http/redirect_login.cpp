#include "engine/http/redirect_login.h"

#include "core/download_list/records.h"

bool LoginFollowsRedirect(const UrlOrigin& from, const UrlOrigin& to) {
    return SameOrigin(from, to) || SecureFormOf(from, to);
}

QString RefererAfterRedirect(const UrlOrigin& from, const QString& fromPath, const UrlOrigin& to) {
    // The path has no fragment: a typed "#" is encoded into it, and a redirect drops its own.
    return OriginText(from) + (SameOrigin(from, to) ? fromPath : QStringLiteral("/"));
}

bool RememberedLoginAllowed(std::int16_t protocol, const QString& referer, bool leftTls) {
    if (protocol == Protocol::Https) {
        return true;
    }
    return !leftTls && !referer.startsWith(u"https://", Qt::CaseInsensitive);
}
