#include "core/settings/options_form.h"

#include <QDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cmath>

#include "core/download_list/records.h"
#include "core/download_list/site_logins.h"
#include "core/file_kinds/file_kinds.h"
#include "core/types/vb_convert.h"

namespace {

constexpr std::int32_t MaxSpeed = 10000000;
constexpr std::int32_t DefaultProxyPort = 8080;
constexpr std::int32_t DefaultRemotePort = 6800;
constexpr std::int32_t DefaultSocksPort = 1080;

bool Flag(std::int16_t value) {
    return value != 0;
}

std::int16_t Flag(bool value) {
    return value ? FlagTrue : FlagFalse;
}

// A typed number as it has always been read: its leading numeric part, non-numbers as 0.
long double Typed(const QString& text) {
    return RoundHalfEven(LeadingNumber(text));
}

bool Within(long double value, long double low, long double high) {
    return value >= low && value <= high;
}

// A typed port; empty or 0 stands for `fallback`.
long double PortOr(const QString& text, long double fallback) {
    const long double port = Typed(text);
    return port == 0 ? fallback : port;
}

QString WithSlash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

}  // namespace

QString SpeedText(std::int32_t bytesPerSecond) {
    const double kilobytes = std::round(bytesPerSecond / 1024.0 * 100.0) / 100.0;
    return QString::number(kilobytes, 'g', 12);
}

std::int32_t SpeedFromText(const QString& kilobytes) {
    QString text = kilobytes;
    text.replace(u',', u'.');
    const long double bytes = RoundHalfEven(LeadingNumber(text) * 1024);
    if (!(bytes > 0)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::min<long double>(bytes, MaxSpeed));
}

OptionsForm FormFromSettings(const Settings& s) {
    OptionsForm f;
    f.downloadFolder = s.DownloadFolder;
    f.tempFolder = s.TempFolder;
    f.saveAs = Flag(s.SaveAs);
    f.safeDisk = Flag(s.SafeDisk);
    f.autoPreviewZip = Flag(s.AutoPreviewZIP);
    f.autoStart = Flag(s.AutoStart);
    f.checkClipboard = Flag(s.CheckClipboard);
    f.popupMenu = Flag(s.BrowserIngeration);
    f.ignoreString = s.IgnoreString;
    f.checksumLookups = Flag(s.ChecksumLookups);
    f.useAntiVirus = Flag(s.UseAntiVirus);
    f.antiVirusCommand = s.AntiVirusCommand;
    f.maxSegments = QString::number(s.MaxSegments);
    f.maxSimultaneous = QString::number(s.MaxSimulDownlads);
    f.useSpeedLimiter = Flag(s.UseSpeedLimiter);
    f.speedKilobytes = SpeedText(s.SpeedLimiter);
    f.maxTries = s.MaxTries;
    f.schedule = Flag(s.Schedule);
    f.daily = s.ScheduleOption == 1;
    f.scheduleDate = s.ScheduleDate.toDateTime();
    f.scheduleHour = s.ScheduleHour.toDateTime().time();
    f.autoCloseInternet = Flag(s.AutoCloseInternet);
    f.autoShutDownComputer = Flag(s.AutoShutDownComputer);
    f.proxyHttp = Flag(s.ProxyHTTP);
    f.proxyFtp = Flag(s.ProxyFTP);
    f.proxyServer = s.ProxyServer;
    f.proxyPort = QString::number(s.ProxyPort);
    f.proxyUser = s.ProxyUser;
    f.proxyPassword = s.ProxyPassword;
    f.socksVersion = s.SocksVersion == 4 || s.SocksVersion == 5 ? s.SocksVersion : 0;
    f.socksServer = s.SocksServer;
    f.socksPort = QString::number(s.SocksPort);
    f.socksUser = s.SocksUser;
    f.socksPassword = s.SocksPassword;
    f.systemProxy = Flag(s.SystemProxy);
    f.chromiumFamily = Flag(s.BrowserIEIntegration);
    f.integrationMode = std::clamp<int>(s.BrowserIEIntegrationMode, 0, 3);
    f.seaMonkey = Flag(s.BroswerMozillaIntegration);
    f.firefox = Flag(s.BroswerFirefoxIntegration);
    f.remoteControl = Flag(s.UseRemoteControl);
    f.remotePort = QString::number(s.RemoteControlPort);
    f.remoteSecret = s.RemoteControlSecret;
    f.remoteListenAll = Flag(s.RemoteControlListenAll);
    f.remoteCertificate = s.RemoteControlCertificate;
    f.remotePrivateKey = s.RemoteControlPrivateKey;
    f.notifications = Flag(s.Notifications);
    f.stayAwake = Flag(s.StayAwake);
    f.sortByKind = Flag(s.SortByKind);
    for (const KindSetting& kind : KindSettings()) {
        f.sortLists << s.*kind.extensions;
    }
    return f;
}

bool FolderTakesFiles(const QString& folder) {
    // A name of its own choosing: a fixed name could replace a file the user keeps there.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".brenloft-write-test-XXXXXX")));
    return probe.open() && probe.write("test\r\n") == 6 && probe.flush();
}

namespace {

// The form's values that need no check: switches, texts and the schedule.
void TakeSwitchesAndTexts(Settings& s, const OptionsForm& f, const QDateTime& now) {
    s.SaveAs = Flag(f.saveAs);
    s.SafeDisk = Flag(f.safeDisk);
    s.AutoPreviewZIP = Flag(f.autoPreviewZip);
    s.AutoStart = Flag(f.autoStart);
    s.CheckClipboard = Flag(f.checkClipboard);
    s.BrowserIngeration = Flag(f.popupMenu);
    s.IgnoreString = f.ignoreString;
    s.ChecksumLookups = Flag(f.checksumLookups);
    s.UseAntiVirus = Flag(f.useAntiVirus);
    s.AntiVirusCommand = f.antiVirusCommand;
    s.UseSpeedLimiter = Flag(f.useSpeedLimiter);
    s.SpeedLimiter = SpeedFromText(f.speedKilobytes);
    s.MaxTries = f.maxTries;
    s.Schedule = Flag(f.schedule);
    s.ScheduleOption = f.daily ? 1 : 0;
    if (f.scheduleDate.isValid()) {
        s.ScheduleDate = OleDate::fromDateTime(f.scheduleDate);
    }
    if (f.scheduleHour.isValid()) {
        s.ScheduleHour =
            NextOccurrence(OleDate::fromDateTime(QDateTime(now.date(), f.scheduleHour)),
                           OleDate::fromDateTime(now));
    }
    s.AutoCloseInternet = Flag(f.autoCloseInternet);
    s.AutoShutDownComputer = Flag(f.autoShutDownComputer);
    s.ProxyHTTP = Flag(f.proxyHttp);
    s.ProxyFTP = Flag(f.proxyFtp);
    s.ProxyServer = f.proxyServer.trimmed();
    s.ProxyUser = f.proxyUser;
    s.ProxyPassword = f.proxyPassword;
    s.SocksVersion = static_cast<std::int16_t>(f.socksVersion);
    s.SocksServer = f.socksServer.trimmed();
    s.SocksPort = static_cast<std::int32_t>(PortOr(f.socksPort, DefaultSocksPort));
    // SOCKS4 has no login: none is kept that would quietly come back with SOCKS5.
    s.SocksUser = f.socksVersion == 4 ? QString() : f.socksUser;
    s.SocksPassword = f.socksVersion == 4 ? QString() : f.socksPassword;
    s.SystemProxy = Flag(f.systemProxy);
    if (f.integrationMode >= 0 && f.integrationMode <= 3) {
        s.BrowserIEIntegrationMode = static_cast<std::int16_t>(f.integrationMode);
    }
    s.UseRemoteControl = Flag(f.remoteControl);
    // Copied from elsewhere, a secret or a path often brings a blank along.
    s.RemoteControlSecret = f.remoteSecret.trimmed();
    s.RemoteControlListenAll = Flag(f.remoteListenAll);
    s.RemoteControlCertificate = f.remoteCertificate.trimmed();
    s.RemoteControlPrivateKey = f.remotePrivateKey.trimmed();
    s.Notifications = Flag(f.notifications);
    s.StayAwake = Flag(f.stayAwake);
    s.SortByKind = Flag(f.sortByKind);
    for (qsizetype i = 0; i < f.sortLists.size() && i < qsizetype(KindSettings().size()); ++i) {
        s.*KindSettings()[std::size_t(i)].extensions = ExtensionList(f.sortLists[i]).join(u' ');
    }
}

// The proxy page's refusal, or 0. The servers matter only when the page's own proxies are used.
int ProxyRefusal(const OptionsForm& f) {
    if (!Within(PortOr(f.socksPort, DefaultSocksPort), 1, 65535)) {
        return SocksPortRangeText;
    }
    if (!f.systemProxy && f.proxyHttp && f.proxyServer.trimmed().isEmpty()) {
        return HttpProxyServerText;
    }
    if (!f.systemProxy && f.socksVersion != 0 && f.socksServer.trimmed().isEmpty()) {
        return SocksServerText;
    }
    if (!ScramblePassword(f.proxyPassword) || !ScramblePassword(f.socksPassword)) {
        return ProxyPasswordText;
    }
    return 0;
}

int ExtensionRefusal(const OptionsForm& f) {
    switch (CheckExtensionLists(f.sortLists)) {
        case ListProblem::NotAnExtension:
            return NotAnExtensionText;
        case ListProblem::TwoKinds:
            return ExtensionTwiceText;
        case ListProblem::None:
            break;
    }
    return 0;
}

}  // namespace

OptionsCheck CheckOptionsForm(const OptionsForm& f, const Settings& current, const QDateTime& now) {
    OptionsCheck check;
    auto refuse = [&check](int message, OptionsCheck::Icon icon) {
        check.message = message;
        check.icon = icon;
        return check;
    };
    using Icon = OptionsCheck::Icon;
    const QString downloads = f.downloadFolder.trimmed();
    const QString temp = f.tempFolder.trimmed();
    if (downloads.isEmpty()) {
        return refuse(796, Icon::Information);
    }
    if (temp.isEmpty()) {
        return refuse(797, Icon::Information);
    }
    // A relative folder would be taken from wherever the program happened to start.
    if (!QDir::isAbsolutePath(downloads)) {
        return refuse(RelativeDownloadFolderText, Icon::Information);
    }
    if (!QDir::isAbsolutePath(temp)) {
        return refuse(RelativeTempFolderText, Icon::Information);
    }
    const long double segments = Typed(f.maxSegments);
    if (!Within(segments, 1, 8)) {
        return refuse(798, Icon::Warning);
    }
    const long double simultaneous = Typed(f.maxSimultaneous);
    if (!Within(simultaneous, 1, 99)) {
        return refuse(799, Icon::Warning);
    }
    const long double port = PortOr(f.proxyPort, DefaultProxyPort);
    if (!Within(port, 1, 65535)) {
        return refuse(ProxyPortRangeText, Icon::Warning);
    }
    const long double remotePort = PortOr(f.remotePort, DefaultRemotePort);
    if (!Within(remotePort, 1, 65535)) {
        return refuse(RemotePortRangeText, Icon::Warning);
    }
    if (const int message = ProxyRefusal(f); message != 0) {
        return refuse(message, Icon::Warning);
    }
    if (const int message = ExtensionRefusal(f); message != 0) {
        return refuse(message, Icon::Warning);
    }
    // Only now, with everything else in order, may the folders be made.
    for (const auto& [folder, message] : {std::pair{downloads, 796}, std::pair{temp, 797}}) {
        QDir().mkpath(folder);
        if (!FolderTakesFiles(folder)) {
            return refuse(message, Icon::Information);
        }
    }

    Settings& s = check.settings;
    s = current;
    s.DownloadFolder = WithSlash(downloads);
    s.TempFolder = WithSlash(temp);
    TakeSwitchesAndTexts(s, f, now);
    s.MaxSegments = static_cast<std::int32_t>(segments);
    s.MaxSimulDownlads = static_cast<std::int32_t>(simultaneous);
    s.ProxyPort = static_cast<std::int32_t>(port);
    s.RemoteControlPort = static_cast<std::int32_t>(remotePort);
    return check;
}
