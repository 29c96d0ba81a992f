#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "core/settings/settings_store.h"
#include "core/types/ole_date.h"

// Every user option, held in memory for the whole run. Members are named as their keys in the
// store's "Options" section (misspellings included: stored files rely on them). Flags hold -1
// for true and 0 for false.
struct Settings {
    std::int16_t BrowserIngeration = 0;  // the browser context-menu entry is installed
    std::int16_t CheckClipboard = 0;
    std::int16_t SaveAs = 0;
    std::int16_t SafeDisk = 0;
    QString DownloadFolder;
    QString TempFolder;
    std::int32_t MaxSegments = 0;
    std::int32_t MaxSimulDownlads = 0;
    std::int16_t AutoPreviewZIP = 0;
    OleDate ScheduleDate;
    std::int16_t AutoCloseInternet = 0;
    std::int16_t Schedule = 0;
    QString ProxyServer;
    std::int32_t ProxyPort = 0;  // 0 to 65535
    std::int16_t ProxyFTP = 0;
    std::int16_t ProxyHTTP = 0;
    std::int16_t AutoStart = 0;
    QString Language;
    QString IgnoreString;
    OleDate ScheduleHour;             // the next start of the daily schedule
    std::int16_t ScheduleOption = 0;  // 0 once at ScheduleDate, else daily at ScheduleHour
    std::int32_t SpeedLimiter = 0;    // bytes per second
    std::int16_t UseSpeedLimiter = 0;
    std::int16_t UseAntiVirus = 0;
    QString AntiVirusCommand;
    std::int16_t BroswerFirefoxIntegration = 0;
    std::int16_t BroswerMozillaIntegration = 0;
    std::int16_t BrowserIEIntegration = 0;
    std::int16_t BrowserIEIntegrationMode = 0;
    std::int16_t AutoShutDownComputer = 0;
    std::int16_t ShowDownloadWindows = 0;
    // How many times in a row the watchdog reconnects a download whose server sends nothing
    // before the download fails; a byte in between starts the count again.
    std::int32_t MaxTries = 0;
    // A finished file is checked against a checksum its server offers (headers, sibling and
    // sums files), looked for without being asked; a given checksum is checked either way.
    std::int16_t ChecksumLookups = 0;
    // The HTTP proxy's login (ProxyServer, ProxyPort), sent after it answers 407; empty: none.
    QString ProxyUser;
    QString ProxyPassword;
    // A SOCKS proxy for every connection the HTTP proxy does not take: 0 none, 4 or 5.
    std::int16_t SocksVersion = 0;
    QString SocksServer;
    std::int32_t SocksPort = 0;
    QString SocksUser;  // SOCKS5 with a login (RFC 1929); empty: none
    QString SocksPassword;
    // The proxies come from the desktop's own settings (libproxy: environment, GNOME, KDE, a PAC
    // file), chosen for each address; the options' proxies are then not used.
    std::int16_t SystemProxy = 0;
    // The remote control (aria2's JSON-RPC over HTTP and WebSocket). The secret stays empty
    // until it is first turned on, then is kept so that clients set up once go on working.
    std::int16_t UseRemoteControl = 0;
    std::int32_t RemoteControlPort = 0;
    QString RemoteControlSecret;
    std::int16_t RemoteControlListenAll = 0;  // else loopback only
    QString RemoteControlCertificate;         // with the key: HTTPS and wss:// only
    QString RemoteControlPrivateKey;
    // The desktop's own services: a notification when downloads end, logind kept from
    // suspending while they run.
    std::int16_t Notifications = 0;
    std::int16_t StayAwake = 0;
    // Files go into the folder of their kind (the XDG user folders for music, videos,
    // pictures and documents; sub-folders of DownloadFolder for the rest), chosen once the
    // name is known. Each kind's extensions, separated by blanks, without dots.
    std::int16_t SortByKind = 0;
    QString SortMusic;
    QString SortVideos;
    QString SortPictures;
    QString SortDocuments;
    QString SortArchives;
    QString SortPrograms;
    QString SortDiskImages;
};

// Reads every option in order; a missing key gives its default, a value that does not convert
// keeps what the block held. Then carries "ScheduleHour" forward to its next occurrence.
void LoadSettings(Settings& settings, const SettingsStore& store, const QString& applicationFolder,
                  OleDate now = OleDate::now());

// Every option at its default, as LoadSettings gives them from an empty store, without
// reading any file: for a program that must not take options from a folder it did not make.
void LoadDefaultSettings(Settings& settings, const QString& applicationFolder,
                         OleDate now = OleDate::now());

// Writes every option but "ShowDownloadWindows" and "AppPath". False when the store could
// not be written.
bool SaveSettings(const Settings& settings, SettingsStore& store);

// Writes one option at once, as the menu toggle of "ShowDownloadWindows" does.
bool SaveSingleOption(const Settings& settings, SettingsStore& store, const QString& key);

// The earliest moment at the same time of day as `hour` that is not earlier than `now`.
OleDate NextOccurrence(OleDate hour, OleDate now);

// Window positions in the "Windows" section, in twips. -1 when missing; nothing when the
// stored text is not a number (the window then keeps its own place). Read as 32-bit: at 15
// twips per pixel a 16-bit read loses every place beyond 2,184 pixels, which screens side by
// side reach.
std::optional<std::int32_t> ReadWindowPosition(const SettingsStore& store, const QString& key);
void WriteWindowPosition(SettingsStore& store, const QString& key, float twips);

constexpr int TwipsPerPixel = 15;

// The same in pixels: nothing when missing, unreadable or -1 (no place saved).
std::optional<int> ReadWindowPixels(const SettingsStore& store, const QString& key);
void WriteWindowPixels(SettingsStore& store, const QString& key, int pixels);
