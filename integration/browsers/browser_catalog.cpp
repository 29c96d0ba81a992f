#include "integration/browsers/browser_catalog.h"

#include <QDir>
#include <QStandardPaths>

const QList<BrowserKind>& BrowserKinds() {
    using F = BrowserFamily;
    using R = ManifestRoot;
    static const QList<BrowserKind> kinds = {
        {QStringLiteral("Chromium"),
         F::Chromium,
         {QStringLiteral("chromium"), QStringLiteral("chromium-browser")},
         R::ConfigHome,
         QStringLiteral("chromium/NativeMessagingHosts")},
        {QStringLiteral("Google Chrome"),
         F::Chromium,
         {QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable")},
         R::ConfigHome,
         QStringLiteral("google-chrome/NativeMessagingHosts")},
        {QStringLiteral("Brave"),
         F::Chromium,
         {QStringLiteral("brave-browser"), QStringLiteral("brave")},
         R::ConfigHome,
         QStringLiteral("BraveSoftware/Brave-Browser/NativeMessagingHosts")},
        {QStringLiteral("Vivaldi"),
         F::Chromium,
         {QStringLiteral("vivaldi"), QStringLiteral("vivaldi-stable")},
         R::ConfigHome,
         QStringLiteral("vivaldi/NativeMessagingHosts")},
        {QStringLiteral("Microsoft Edge"),
         F::Chromium,
         {QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-stable")},
         R::ConfigHome,
         QStringLiteral("microsoft-edge/NativeMessagingHosts")},
        {QStringLiteral("SeaMonkey"),
         F::SeaMonkey,
         {QStringLiteral("seamonkey")},
         R::Home,
         QStringLiteral(".mozilla/native-messaging-hosts")},
        {QStringLiteral("Firefox"),
         F::Firefox,
         {QStringLiteral("firefox"), QStringLiteral("firefox-esr")},
         R::Home,
         QStringLiteral(".mozilla/native-messaging-hosts")},
        {QStringLiteral("LibreWolf"),
         F::Firefox,
         {QStringLiteral("librewolf")},
         R::Home,
         QStringLiteral(".librewolf/native-messaging-hosts")},
    };
    return kinds;
}

BrowserPlaces BrowserPlaces::FromEnvironment() {
    BrowserPlaces places;
    places.home = QDir::homePath();
    places.configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (places.configHome.isEmpty() || !QDir::isAbsolutePath(places.configHome)) {
        places.configHome = places.home + QStringLiteral("/.config");
    }
    places.path = qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts);
    return places;
}

QString BrowserPlaces::manifestFolder(const BrowserKind& kind) const {
    const QString root = kind.root == ManifestRoot::ConfigHome ? configHome : home;
    return QDir(root).filePath(kind.manifestFolder);
}

QList<FoundBrowser> FindBrowsers(const BrowserPlaces& places) {
    QList<FoundBrowser> found;
    if (places.path.isEmpty()) {
        return found;  // an empty list would make Qt search the system's default path
    }
    for (const BrowserKind& kind : BrowserKinds()) {
        for (const QString& program : kind.programs) {
            const QString path = QStandardPaths::findExecutable(program, places.path);
            if (!path.isEmpty()) {
                found.append({kind, path});
                break;
            }
        }
    }
    return found;
}

QString BrowserProgram(const QList<FoundBrowser>& found, BrowserFamily family) {
    for (const FoundBrowser& browser : found) {
        if (browser.kind.family == family) {
            return browser.program;
        }
    }
    return {};
}
