#include "core/download_list/site_logins.h"

#include <cmath>

#include "core/types/vb_convert.h"
#include "core/urls/parse_url.h"

std::optional<QString> ScramblePassword(const QString& password) {
    const QByteArray bytes = password.toLocal8Bit();
    QString out;
    out.reserve(bytes.size() * 2);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int value = static_cast<unsigned char>(bytes[i]) - 32 + int(i + 1);
        if (value < 0 || value > 0xFF) {
            return std::nullopt;
        }
        out += QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

QString UnscramblePassword(const QString& scrambled) {
    const auto count = static_cast<qsizetype>(RoundHalfEven(scrambled.size() / 2.0L));
    QByteArray bytes;
    bytes.reserve(count);
    for (qsizetype i = 1; i <= count; ++i) {
        const QStringView pair = QStringView(scrambled).mid(2 * i - 2, 2);
        bool ok = false;
        const int code = pair.toInt(&ok, 16) - int(i) + 32;
        // Damaged text cannot give back a password; keep only what a scramble can have made.
        if (ok && code >= 0 && code <= 0xFF) {
            bytes.append(static_cast<char>(code));
        }
    }
    return QString::fromLocal8Bit(bytes);
}

SaveLoginResult SaveSiteLogin(DownloadListState& list, const QString& listPath, const QString& site,
                              const QString& user, const QString& password) {
    const auto scrambled = ScramblePassword(password);
    if (!scrambled) {
        return SaveLoginResult::PasswordNotStorable;
    }
    int found = 0;
    for (int slot = 1; slot <= list.SiteLoginCount; ++slot) {
        if (list.SiteLoginList[slot].Site == site) {
            found = slot;
            break;
        }
    }
    if (found == 0) {
        list.SiteLoginList.resize(list.SiteLoginCount + 2);
        found = ++list.SiteLoginCount;
    }
    SiteLogin& login = list.SiteLoginList[found];
    login.LoginUser = user;
    login.Site = site;
    login.LoginFlag = 1;
    login.LoginPassword = *scrambled;
    return SaveList(list, listPath).isEmpty() ? SaveLoginResult::Saved
                                              : SaveLoginResult::SaveFailed;
}

namespace {

// The origin a stored key names; an older list's bare host name is its http:// on port 80.
UrlOrigin KeyOrigin(const QString& site) {
    if (!site.contains(u"://")) {
        return {Protocol::Http, site, DefaultPort(Protocol::Http)};
    }
    const ParsedUrl parsed = ParseUrl(site + u'/');
    return parsed.status == UrlValid ? OriginOf(parsed) : UrlOrigin{};
}

}  // namespace

QString SiteLoginKey(const UrlOrigin& origin) {
    return OriginText(origin);
}

bool ApplySiteLogin(DownloadListState& list, int slot) {
    DownloadRecord* record = list.record(slot);
    if (record == nullptr) {
        return false;
    }
    const UrlOrigin wanted{record->Protocol, record->HostName, record->Port};
    // Its own origin first, so that a login kept for the https:// address wins over the http://
    // one that may also go there.
    for (const bool secureForm : {false, true}) {
        for (int i = 1; i <= list.SiteLoginCount; ++i) {
            const SiteLogin& login = list.SiteLoginList[i];
            const UrlOrigin kept = KeyOrigin(login.Site);
            if (secureForm ? SecureFormOf(kept, wanted) : SameOrigin(kept, wanted)) {
                record->Password = UnscramblePassword(login.LoginPassword);
                record->UserName = login.LoginUser;
                return true;
            }
        }
    }
    return false;
}
