#include "engine/http/browser_handover.h"

#include <QUrl>

#include "core/download_list/records.h"
#include "core/urls/parse_url.h"

namespace {

// Servers refuse a request whose header lines pass 8 KiB (nginx's and Apache's default);
// a longer cookie would only make every request of the download fail.
constexpr qsizetype MaxCookieLength = 8000;

constexpr char16_t Separator = u'\n';

QString CookieScheme(std::int16_t protocol) {
    return protocol == Protocol::Https ? QStringLiteral("https") : QStringLiteral("http");
}

}  // namespace

QString HandedReferer(const QString& page) {
    QUrl url(page, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https")) {
        return {};
    }
    url.setFragment({});
    url.setUserInfo({});
    return url.toString(QUrl::FullyEncoded);
}

QString KeptCookie(const QString& url, const QString& cookie) {
    QString value = cookie.trimmed();
    // Line ends would end the header early; the stored form uses one as its separator.
    value.removeIf([](QChar c) { return c == u'\r' || c == u'\n'; });
    const ParsedUrl parsed = ParseUrl(url);
    if (value.isEmpty() || value.size() > MaxCookieLength || parsed.status != UrlValid ||
        parsed.protocol == Protocol::Ftp) {
        return {};
    }
    return CookieScheme(parsed.protocol) + QStringLiteral("://") + parsed.host.toLower() +
           Separator + value;
}

QString CookieToSend(const DownloadRecord& record) {
    const qsizetype separator = record.Reserved5.indexOf(Separator);
    if (separator < 0 || record.Protocol == Protocol::Ftp) {
        return {};
    }
    const QString origin = record.Reserved5.left(separator);
    const qsizetype hostStart = origin.indexOf(QStringLiteral("://"));
    if (hostStart < 0) {
        return {};
    }
    const QString scheme = origin.left(hostStart);
    const QString host = origin.mid(hostStart + 3);
    if ((scheme != u"http" && scheme != u"https") ||
        host.compare(record.HostName, Qt::CaseInsensitive) != 0) {
        return {};
    }
    if (scheme == u"https" && record.Protocol != Protocol::Https) {
        return {};
    }
    return record.Reserved5.mid(separator + 1);
}
