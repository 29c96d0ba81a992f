#include "core/settings/settings.h"

#include <cmath>
#include <variant>

#include "core/download_list/site_logins.h"
#include "core/paths/app_paths.h"
#include "core/types/vb_convert.h"

namespace {

const QString kOptions = QStringLiteral("Options");
const QString kWindows = QStringLiteral("Windows");

// Password: plain in memory, scrambled on disk as the site logins' passwords are, so that a
// glance at the file does not give it away.
enum class Kind { FlagText, FlagNumber, Integer, Number, Port, Date, Text, Password };

using Member = std::variant<std::int16_t Settings::*, std::int32_t Settings::*, QString Settings::*,
                            OleDate Settings::*>;

struct Context {
    QString applicationFolder;
    OleDate now;
};

struct Option {
    const char* key;
    Kind kind;
    Member member;
    QString (*defaultText)(const Context&);
    bool savedWithOthers;
};

template <const char* Text>
QString Literal(const Context&) {
    return QString::fromLatin1(Text);
}

constexpr char kTrue[] = "-1";
constexpr char kFalse[] = "0";
constexpr char kEmpty[] = "";

QString DefaultDownloads(const Context& c) {
    return DefaultDownloadFolder(c.applicationFolder);
}
QString DefaultTemp(const Context& c) {
    return DefaultTempFolder(c.applicationFolder);
}
QString Now(const Context& c) {
    return DateToText(c.now);
}

constexpr char kFour[] = "4";
constexpr char kThree[] = "3";
constexpr char kEighty[] = "80";
constexpr char kEnglish[] = "english";
constexpr char kIgnored[] = "HTM,HTML,ASP,PHP,CGI";
constexpr char kNoon[] = "12:00";
constexpr char kLimit[] = "10240";
constexpr char kTwenty[] = "20";
constexpr char kSocksPort[] = "1080";
constexpr char kRemotePort[] = "6800";  // aria2's, which its clients assume
constexpr char kMusic[] = "mp3 flac ogg oga opus m4a aac wav wma";
constexpr char kVideos[] = "mp4 mkv webm avi mov wmv m4v mpg mpeg flv";
constexpr char kPictures[] = "jpg jpeg png gif webp svg bmp tif tiff heic";
constexpr char kDocuments[] = "pdf odt ods odp doc docx xls xlsx ppt pptx rtf txt epub";
constexpr char kArchives[] = "zip 7z rar tar gz tgz bz2 xz zst";
constexpr char kPrograms[] = "deb rpm appimage run flatpakref";
constexpr char kDiskImages[] = "iso img qcow2 vmdk vdi";

// The "Options" section in the order it is read.
const Option kOptionTable[] = {
    {"BrowserIngeration", Kind::FlagText, &Settings::BrowserIngeration, Literal<kTrue>, true},
    {"CheckClipboard", Kind::FlagText, &Settings::CheckClipboard, Literal<kTrue>, true},
    {"SaveAs", Kind::FlagText, &Settings::SaveAs, Literal<kFalse>, true},
    {"SafeDisk", Kind::FlagText, &Settings::SafeDisk, Literal<kTrue>, true},
    {"DownloadFolder", Kind::Text, &Settings::DownloadFolder, DefaultDownloads, true},
    {"TempFolder", Kind::Text, &Settings::TempFolder, DefaultTemp, true},
    {"MaxSegments", Kind::Number, &Settings::MaxSegments, Literal<kFour>, true},
    {"MaxSimulDownlads", Kind::Number, &Settings::MaxSimulDownlads, Literal<kThree>, true},
    {"AutoPreviewZIP", Kind::FlagText, &Settings::AutoPreviewZIP, Literal<kFalse>, true},
    {"ScheduleDate", Kind::Date, &Settings::ScheduleDate, Now, true},
    {"AutoCloseInternet", Kind::FlagText, &Settings::AutoCloseInternet, Literal<kFalse>, true},
    {"Schedule", Kind::FlagText, &Settings::Schedule, Literal<kFalse>, true},
    {"ProxyServer", Kind::Text, &Settings::ProxyServer, Literal<kEmpty>, true},
    {"ProxyPort", Kind::Port, &Settings::ProxyPort, Literal<kEighty>, true},
    {"ProxyFTP", Kind::FlagText, &Settings::ProxyFTP, Literal<kFalse>, true},
    {"ProxyHTTP", Kind::FlagText, &Settings::ProxyHTTP, Literal<kFalse>, true},
    {"AutoStart", Kind::FlagText, &Settings::AutoStart, Literal<kFalse>, true},
    {"Language", Kind::Text, &Settings::Language, Literal<kEnglish>, true},
    {"IgnoreString", Kind::Text, &Settings::IgnoreString, Literal<kIgnored>, true},
    {"ScheduleHour", Kind::Date, &Settings::ScheduleHour, Literal<kNoon>, true},
    {"ScheduleOption", Kind::Integer, &Settings::ScheduleOption, Literal<kFalse>, true},
    {"SpeedLimiter", Kind::Number, &Settings::SpeedLimiter, Literal<kLimit>, true},
    {"UseSpeedLimiter", Kind::FlagText, &Settings::UseSpeedLimiter, Literal<kFalse>, true},
    {"UseAntiVirus", Kind::FlagNumber, &Settings::UseAntiVirus, Literal<kFalse>, true},
    {"AntiVirusCommand", Kind::Text, &Settings::AntiVirusCommand, Literal<kEmpty>, true},
    {"BroswerFirefoxIntegration", Kind::FlagNumber, &Settings::BroswerFirefoxIntegration,
     Literal<kFalse>, true},
    {"BroswerMozillaIntegration", Kind::FlagNumber, &Settings::BroswerMozillaIntegration,
     Literal<kFalse>, true},
    {"BrowserIEIntegration", Kind::FlagNumber, &Settings::BrowserIEIntegration, Literal<kFalse>,
     true},
    {"BrowserIEIntegrationMode", Kind::Integer, &Settings::BrowserIEIntegrationMode,
     Literal<kFalse>, true},
    {"AutoShutDownComputer", Kind::FlagNumber, &Settings::AutoShutDownComputer, Literal<kFalse>,
     true},
    {"MaxTries", Kind::Number, &Settings::MaxTries, Literal<kTwenty>, true},
    {"ChecksumLookups", Kind::FlagNumber, &Settings::ChecksumLookups, Literal<kTrue>, true},
    {"ProxyUser", Kind::Text, &Settings::ProxyUser, Literal<kEmpty>, true},
    {"ProxyPassword", Kind::Password, &Settings::ProxyPassword, Literal<kEmpty>, true},
    {"SocksVersion", Kind::Integer, &Settings::SocksVersion, Literal<kFalse>, true},
    {"SocksServer", Kind::Text, &Settings::SocksServer, Literal<kEmpty>, true},
    {"SocksPort", Kind::Port, &Settings::SocksPort, Literal<kSocksPort>, true},
    {"SocksUser", Kind::Text, &Settings::SocksUser, Literal<kEmpty>, true},
    {"SocksPassword", Kind::Password, &Settings::SocksPassword, Literal<kEmpty>, true},
    {"SystemProxy", Kind::FlagNumber, &Settings::SystemProxy, Literal<kFalse>, true},
    {"UseRemoteControl", Kind::FlagNumber, &Settings::UseRemoteControl, Literal<kFalse>, true},
    {"RemoteControlPort", Kind::Port, &Settings::RemoteControlPort, Literal<kRemotePort>, true},
    {"RemoteControlSecret", Kind::Text, &Settings::RemoteControlSecret, Literal<kEmpty>, true},
    {"RemoteControlListenAll", Kind::FlagNumber, &Settings::RemoteControlListenAll, Literal<kFalse>,
     true},
    {"RemoteControlCertificate", Kind::Text, &Settings::RemoteControlCertificate, Literal<kEmpty>,
     true},
    {"RemoteControlPrivateKey", Kind::Text, &Settings::RemoteControlPrivateKey, Literal<kEmpty>,
     true},
    {"Notifications", Kind::FlagNumber, &Settings::Notifications, Literal<kTrue>, true},
    {"StayAwake", Kind::FlagNumber, &Settings::StayAwake, Literal<kTrue>, true},
    {"SortByKind", Kind::FlagNumber, &Settings::SortByKind, Literal<kFalse>, true},
    {"SortMusic", Kind::Text, &Settings::SortMusic, Literal<kMusic>, true},
    {"SortVideos", Kind::Text, &Settings::SortVideos, Literal<kVideos>, true},
    {"SortPictures", Kind::Text, &Settings::SortPictures, Literal<kPictures>, true},
    {"SortDocuments", Kind::Text, &Settings::SortDocuments, Literal<kDocuments>, true},
    {"SortArchives", Kind::Text, &Settings::SortArchives, Literal<kArchives>, true},
    {"SortPrograms", Kind::Text, &Settings::SortPrograms, Literal<kPrograms>, true},
    {"SortDiskImages", Kind::Text, &Settings::SortDiskImages, Literal<kDiskImages>, true},
    {"ShowDownloadWindows", Kind::FlagNumber, &Settings::ShowDownloadWindows, Literal<kTrue>,
     false},
};

// Converts `text` as `option` says into the block; false (block unchanged) when it does not.
bool Assign(Settings& settings, const Option& option, const QString& text) {
    switch (option.kind) {
        case Kind::FlagText:
            if (const auto v = TextToFlag(text)) {
                settings.*std::get<std::int16_t Settings::*>(option.member) = *v;
                return true;
            }
            return false;
        case Kind::FlagNumber:
            if (const auto v = TextToInteger(text)) {
                settings.*std::get<std::int16_t Settings::*>(option.member) = *v != 0 ? -1 : 0;
                return true;
            }
            return false;
        case Kind::Integer:
            if (const auto v = TextToInteger(text)) {
                settings.*std::get<std::int16_t Settings::*>(option.member) = *v;
                return true;
            }
            return false;
        case Kind::Number:
            if (const auto v = LeadingNumberToLong(text)) {
                settings.*std::get<std::int32_t Settings::*>(option.member) = *v;
                return true;
            }
            return false;
        case Kind::Port:
            // A whole 16-bit unsigned range: a signed one would turn ports above 32767 away.
            if (const auto v = StrictNumber(text)) {
                const long double port = RoundHalfEven(*v);
                if (port >= 0 && port <= 65535) {
                    settings.*std::get<std::int32_t Settings::*>(option.member) =
                        static_cast<std::int32_t>(port);
                    return true;
                }
            }
            return false;
        case Kind::Date:
            if (const auto v = DateFromText(text)) {
                settings.*std::get<OleDate Settings::*>(option.member) = *v;
                return true;
            }
            return false;
        case Kind::Text:
            settings.*std::get<QString Settings::*>(option.member) = text;
            return true;
        case Kind::Password:
            settings.*std::get<QString Settings::*>(option.member) = UnscramblePassword(text);
            return true;
    }
    return false;
}

QString Text(const Settings& settings, const Option& option) {
    if (option.kind == Kind::Password) {
        // The options window refuses a password that has no scrambled form.
        return ScramblePassword(settings.*std::get<QString Settings::*>(option.member))
            .value_or(QString());
    }
    return std::visit(
        [&](auto member) -> QString {
            const auto& value = settings.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>) {
                return value;
            } else if constexpr (std::is_same_v<T, OleDate>) {
                return DateToText(value);
            } else {
                return QString::number(value);
            }
        },
        option.member);
}

}  // namespace

OleDate NextOccurrence(OleDate hour, OleDate now) {
    if (!(hour < now)) {
        return hour;
    }
    // Whole days, as many as it takes to reach now; one fewer when that is already enough.
    int days = static_cast<int>(std::ceil(now.days() - hour.days()));
    if (days > 0 && !(hour.addDays(days - 1) < now)) {
        --days;
    }
    OleDate next = hour.addDays(days);
    if (next < now) {
        next = next.addDays(1);
    }
    return next;
}

void LoadSettings(Settings& settings, const SettingsStore& store, const QString& applicationFolder,
                  OleDate now) {
    const Context context{applicationFolder, now};
    for (const Option& option : kOptionTable) {
        const auto stored = store.read(kOptions, QLatin1String(option.key));
        Assign(settings, option, stored ? *stored : option.defaultText(context));
    }
    settings.ScheduleHour = NextOccurrence(settings.ScheduleHour, now);
}

void LoadDefaultSettings(Settings& settings, const QString& applicationFolder, OleDate now) {
    const Context context{applicationFolder, now};
    for (const Option& option : kOptionTable) {
        Assign(settings, option, option.defaultText(context));
    }
    settings.ScheduleHour = NextOccurrence(settings.ScheduleHour, now);
}

bool SaveSettings(const Settings& settings, SettingsStore& store) {
    for (const Option& option : kOptionTable) {
        if (option.savedWithOthers) {
            store.write(kOptions, QLatin1String(option.key), Text(settings, option));
        }
    }
    return store.sync();
}

bool SaveSingleOption(const Settings& settings, SettingsStore& store, const QString& key) {
    for (const Option& option : kOptionTable) {
        if (key == QLatin1String(option.key)) {
            store.write(kOptions, key, Text(settings, option));
            return store.sync();
        }
    }
    return false;
}

std::optional<std::int32_t> ReadWindowPosition(const SettingsStore& store, const QString& key) {
    const auto stored = store.read(kWindows, key);
    if (!stored) {
        return -1;
    }
    return TextToLong(*stored);
}

void WriteWindowPosition(SettingsStore& store, const QString& key, float twips) {
    store.write(kWindows, key, QString::number(double(twips), 'g', 7));
}

std::optional<int> ReadWindowPixels(const SettingsStore& store, const QString& key) {
    const auto twips = ReadWindowPosition(store, key);
    if (!twips || *twips == -1) {
        return std::nullopt;
    }
    return *twips / TwipsPerPixel;
}

void WriteWindowPixels(SettingsStore& store, const QString& key, int pixels) {
    WriteWindowPosition(store, key, float(pixels * TwipsPerPixel));
}
