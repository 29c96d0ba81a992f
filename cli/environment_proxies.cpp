#include "cli/environment_proxies.h"

#include <QHostAddress>
#include <algorithm>
#include <utility>

#include "cli/proxy_address.h"
#include "core/download_list/records.h"
#include "core/urls/parse_url.h"

namespace {

QString WithoutBrackets(const QString& host) {
    return host.startsWith(u'[') && host.endsWith(u']') ? host.mid(1, host.size() - 2) : host;
}

// Whether one no_proxy entry, without its port, covers `host`.
bool Covers(QString entry, const QString& host) {
    entry = WithoutBrackets(entry).toLower();
    const QHostAddress address(host);
    if (!address.isNull() && entry.contains(u'/')) {
        const auto network = QHostAddress::parseSubnet(entry);
        return !network.first.isNull() && address.isInSubnet(network);
    }
    if (entry.startsWith(u'.')) {
        entry.remove(0, 1);
    }
    return host == entry || (address.isNull() && host.endsWith(u'.' + entry));
}

// "host:port", "10.1.2.3:port" and "[v6]:port" name one port (0: any); a bare IPv6 address
// has colons of its own.
std::pair<QString, int> SplitPort(const QString& entry) {
    const qsizetype colon = entry.lastIndexOf(u':');
    const bool bareV6 = entry.count(u':') > 1 && !entry.startsWith(u'[');
    if (colon <= 0 || bareV6 || entry.endsWith(u']')) {
        return {entry, 0};
    }
    return {entry.left(colon), entry.mid(colon + 1).toInt()};
}

}  // namespace

EnvironmentProxies::EnvironmentProxies(const QProcessEnvironment& environment)
    : environment_(environment) {
    http_ = firstSet({QStringLiteral("http_proxy")});
    https_ = firstSet({QStringLiteral("https_proxy"), QStringLiteral("HTTPS_PROXY")});
    ftp_ = firstSet({QStringLiteral("ftp_proxy"), QStringLiteral("FTP_PROXY")});
    all_ = firstSet({QStringLiteral("all_proxy"), QStringLiteral("ALL_PROXY")});
    for (const QString& name : {QStringLiteral("no_proxy"), QStringLiteral("NO_PROXY")}) {
        const QString value = environment_.value(name).trimmed();
        if (!value.isEmpty() && noProxyFrom_.isEmpty()) {
            noProxyFrom_ = name;
            for (const QString& entry : value.split(u',', Qt::SkipEmptyParts)) {
                noProxy_ << entry.trimmed();
            }
        }
    }
}

EnvironmentProxies::EnvironmentProxies(const ProxyRoute& route, const QString& from)
    : fixed_(ProxyChoice{route, from}) {}

std::optional<EnvironmentProxies::Variable> EnvironmentProxies::firstSet(const QStringList& names) {
    for (const QString& name : names) {
        const QString value = environment_.value(name).trimmed();
        if (value.isEmpty()) {
            continue;
        }
        const std::optional<ProxyRoute> route = ParseProxyAddress(value);
        if (!route && error_.isEmpty()) {
            error_ = QStringLiteral("%1 is not a proxy address: \"%2\"").arg(name, value);
        }
        return route ? std::optional(Variable{name, *route}) : std::nullopt;
    }
    return std::nullopt;
}

bool EnvironmentProxies::bypassed(const QString& host, int port) const {
    return std::any_of(noProxy_.begin(), noProxy_.end(), [&](const QString& entry) {
        const auto [hostPart, entryPort] = SplitPort(entry);
        return entry == u'*' || ((entryPort == 0 || entryPort == port) && Covers(hostPart, host));
    });
}

ProxyChoice EnvironmentProxies::choose(const QString& url) const {
    if (fixed_) {
        return *fixed_;
    }
    const ParsedUrl parsed = ParseUrl(url);
    const QString host = WithoutBrackets(parsed.host).toLower();
    if (bypassed(host, parsed.port)) {
        return {ProxyRoute{}, noProxyFrom_};
    }
    const std::optional<Variable>& own = parsed.protocol == Protocol::Https ? https_
                                         : parsed.protocol == Protocol::Ftp ? ftp_
                                                                            : http_;
    const std::optional<Variable>& used = own ? own : all_;
    return used ? ProxyChoice{used->route, used->name} : ProxyChoice{};
}
