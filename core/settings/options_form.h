#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include "core/settings/settings.h"

// What the options window shows, control by control, as plain values: the window copies its
// controls into this and back, and everything that decides what OK may save lives here, so it
// runs and is tested without a window. Texts stay texts where the user types numbers, because
// what they typed is what gets checked.
struct OptionsForm {
    // General
    QString downloadFolder;       // Text2
    QString tempFolder;           // Text1
    bool saveAs = false;          // Check3
    bool safeDisk = false;        // Check4
    bool autoPreviewZip = false;  // Check5
    bool autoStart = false;       // Check10
    bool checkClipboard = false;  // Check1
    bool popupMenu = false;       // Check2 (display only) and Check16
    QString ignoreString;         // Text9
    bool checksumLookups = true;  // CheckLookups
    bool useAntiVirus = false;    // Check12
    QString antiVirusCommand;     // Text12
    // Connection
    QString maxSegments;           // Text3
    QString maxSimultaneous;       // Text4
    bool useSpeedLimiter = false;  // Check11
    QString speedKilobytes;        // Text11, kilobytes per second
    int maxTries = 20;             // SpinTries: a spin box, always within its range
    // Scheduling
    bool schedule = false;              // Check7
    bool daily = false;                 // Option2 (Option1 otherwise)
    QDateTime scheduleDate;             // Text5 and Text6
    QTime scheduleHour;                 // Text10
    bool autoCloseInternet = false;     // Check6
    bool autoShutDownComputer = false;  // Check17
    // Proxy
    bool proxyHttp = false;    // Check8
    bool proxyFtp = false;     // Check9 (greyed: shown, never changed by the user)
    QString proxyServer;       // Text7
    QString proxyPort;         // Text8
    QString proxyUser;         // TextProxyUser
    QString proxyPassword;     // TextProxyPassword
    int socksVersion = 0;      // OptionSocks0/4/5: 0 none, 4 or 5
    QString socksServer;       // TextSocksServer
    QString socksPort;         // TextSocksPort
    QString socksUser;         // TextSocksUser (SOCKS5 only)
    QString socksPassword;     // TextSocksPassword (SOCKS5 only)
    bool systemProxy = false;  // CheckSystemProxy: the others greyed while ticked
    // Integration
    bool chromiumFamily = false;  // Check13
    int integrationMode = 0;      // the selected Option3, -1 when none is
    bool seaMonkey = false;       // Check14
    bool firefox = false;         // Check15
    // Remote control
    bool remoteControl = false;    // CheckRemote
    QString remotePort;            // TextRemotePort
    QString remoteSecret;          // TextRemoteSecret
    bool remoteListenAll = false;  // CheckListenAll
    QString remoteCertificate;     // TextCertificate
    QString remotePrivateKey;      // TextPrivateKey
    // Desktop
    bool notifications = true;  // CheckNotifications
    bool stayAwake = true;      // CheckStayAwake
    bool sortByKind = false;    // CheckSortByKind: the lists are greyed while it is off
    // TextSortMusic to TextSortDiskImages: one text per kind, in KindSettings() order.
    QStringList sortLists;
};

// The controls' values for the settings as they are now.
OptionsForm FormFromSettings(const Settings& settings);

// The speed limit as the window shows it: kilobytes per second, at most two decimals.
QString SpeedText(std::int32_t bytesPerSecond);
// Back to bytes per second, rounded and kept within 0 and 10000000. A comma counts as the
// decimal point, as many locales write it.
std::int32_t SpeedFromText(const QString& kilobytes);

// What OK found wrong: the interface text to show, or 0 when everything may be saved.
struct OptionsCheck {
    enum class Icon { Information, Warning };
    int message = 0;
    Icon icon = Icon::Information;
    Settings settings;  // what the controls ask for, when the message is 0
};

// Interface texts of the checks that are this program's own.
inline constexpr int RelativeDownloadFolderText = 860;
inline constexpr int RelativeTempFolderText = 861;
inline constexpr int ProxyPortRangeText = 862;
inline constexpr int RemotePortRangeText = 1381;
inline constexpr int HttpProxyServerText = 1407;
inline constexpr int SocksServerText = 1408;
inline constexpr int SocksPortRangeText = 1409;
inline constexpr int ProxyPasswordText = 1410;
inline constexpr int NotAnExtensionText = 1493;
inline constexpr int ExtensionTwiceText = 1494;

// OK's checks, then the settings the controls ask for. Checked in this order, and nothing
// touched on disk before the last of them: an empty download folder (796) or temporary folder
// (797); a folder that is not a full path (860, 861); segments out of 1-8 (798); simultaneous
// downloads out of 1-99 (799); a proxy port out of 1-65535 (862; empty or 0 means 8080); a
// remote control port out of 1-65535 (1381; empty or 0 means 6800), checked even while it is
// off; a SOCKS port out of 1-65535 (1409; empty or 0 means 1080); unless the system's proxy
// settings are chosen, the HTTP proxy ticked without a server (1407) or a SOCKS version chosen
// without one (1408); a proxy password that cannot be stored scrambled (1410); an extension
// list holding what is no extension (1493) or an extension under two kinds (1494), checked
// even while sorting is off. Then
// both folders are created and each must take a file of its own (796 for the download folder,
// 797 for the temporary one). Folders come back with a trailing "/", extension lists as the
// settings keep them.
//
// The integration boxes and the language are left as `current` has them: changing them has
// effects that the caller runs. "ScheduleHour" is the next moment at the chosen time of day.
OptionsCheck CheckOptionsForm(const OptionsForm& form, const Settings& current,
                              const QDateTime& now);

// True when a file can be made in `folder` and written; the file goes again at once, and no
// file of the user's is ever touched.
bool FolderTakesFiles(const QString& folder);
