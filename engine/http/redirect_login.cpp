#include "engine/http/redirect_login.h"

#include "core/download_list/records.h"

bool LoginFollowsRedirect(std::int16_t fromProtocol, const QString& fromHost,
                          std::int16_t toProtocol, const QString& toHost) {
    if (fromHost.compare(toHost, Qt::CaseInsensitive) != 0) {
        return false;
    }
    return fromProtocol != Protocol::Https || toProtocol == Protocol::Https;
}

bool RememberedLoginAllowed(std::int16_t protocol, const QString& referer, bool leftTls) {
    if (protocol == Protocol::Https) {
        return true;
    }
    return !leftTls && !referer.startsWith(u"https://", Qt::CaseInsensitive);
}
