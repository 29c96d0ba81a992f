#include "update/update_server.h"

#include <string_view>

#include "core/download_list/records.h"
#include "core/urls/parse_url.h"

#ifndef BRENLOFT_UPDATE_SERVER
#error "BRENLOFT_UPDATE_SERVER names the maker's update server"
#endif
static_assert(std::string_view(BRENLOFT_UPDATE_SERVER).starts_with("https://"),
              "the built-in update server is reached over https:// only");

QString UpdateServer::serverName() const {
    QString name = HostInUrl(host);
    if (port != DefaultPort(protocol)) {
        name += u':' + QString::number(port);
    }
    return name;
}

QString UpdateServer::url(const QString& path) const {
    return SchemeOf(protocol) + serverName() + path;
}

UpdateServer ParseUpdateServer(const QString& text) {
    QString address = text.trimmed();
    if (!address.endsWith(u'/')) {
        address += u'/';
    }
    const ParsedUrl parsed = ParseUrl(address);
    UpdateServer server;
    if (parsed.status != UrlValid || parsed.path != QStringLiteral("/") || !parsed.user.isEmpty() ||
        !parsed.password.isEmpty() ||
        (parsed.protocol != Protocol::Http && parsed.protocol != Protocol::Https)) {
        return server;
    }
    server.protocol = parsed.protocol;
    server.host = parsed.host;
    server.port = parsed.port;
    return server;
}

UpdateServer ConfiguredUpdateServer() {
    const QString chosen = qEnvironmentVariable("BRENLOFT_UPDATE_SERVER");
    if (!chosen.isEmpty()) {
        const UpdateServer server = ParseUpdateServer(chosen);
        if (server.valid()) {
            return server;
        }
    }
    return ParseUpdateServer(QStringLiteral(BRENLOFT_UPDATE_SERVER));
}

QString UpdatePackageUrl(const UpdateServer& server, const QString& digits) {
    return server.url(QStringLiteral("/velmora/kestor") + digits + QStringLiteral(".zip"));
}
