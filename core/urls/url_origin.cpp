#include "core/urls/url_origin.h"

#include "core/download_list/records.h"
#include "core/urls/parse_url.h"

UrlOrigin OriginOf(const ParsedUrl& parsed) {
    return {parsed.protocol, parsed.host, parsed.port};
}

bool SameOrigin(const UrlOrigin& a, const UrlOrigin& b) {
    return a.protocol == b.protocol && a.port == b.port &&
           a.host.compare(b.host, Qt::CaseInsensitive) == 0;
}

bool SecureFormOf(const UrlOrigin& from, const UrlOrigin& to) {
    return from.protocol == Protocol::Http && from.port == DefaultPort(Protocol::Http) &&
           to.protocol == Protocol::Https && to.port == DefaultPort(Protocol::Https) &&
           from.host.compare(to.host, Qt::CaseInsensitive) == 0;
}

QString OriginText(const UrlOrigin& origin) {
    QString text = SchemeOf(origin.protocol) + HostInUrl(origin.host.toLower());
    if (origin.port != DefaultPort(origin.protocol)) {
        text += u':' + QString::number(origin.port);
    }
    return text;
}
