#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The browsers Brenloft can hand links from, by the options window's three boxes: the first
// stands for the Chromium family, the second for SeaMonkey, the third for Firefox and its
// LibreWolf build.
enum class BrowserFamily { Chromium, SeaMonkey, Firefox };

// Where a browser reads the per-user native-messaging host manifests.
enum class ManifestRoot {
    ConfigHome,  // under $XDG_CONFIG_HOME (~/.config), as Chromium-family browsers do
    Home,        // under the home folder, as Mozilla's browsers do
};

struct BrowserKind {
    QString name;  // for people: "Google Chrome"
    BrowserFamily family;
    QStringList programs;  // names the program goes by on PATH, the usual one first
    ManifestRoot root;
    QString manifestFolder;  // below the root: "google-chrome/NativeMessagingHosts"
};

// Every browser known, in the order they are preferred within a family.
const QList<BrowserKind>& BrowserKinds();

// The folders and search path a user's browsers are found with.
struct BrowserPlaces {
    QString home;
    QString configHome;
    QStringList path;  // $PATH, split

    // From $HOME, $XDG_CONFIG_HOME (else ~/.config) and $PATH.
    static BrowserPlaces FromEnvironment();
    // The folder a kind's manifest goes into.
    QString manifestFolder(const BrowserKind& kind) const;
};

struct FoundBrowser {
    BrowserKind kind;
    QString program;  // absolute path
};

// The browsers whose program is on the search path, one per kind.
QList<FoundBrowser> FindBrowsers(const BrowserPlaces& places);

// The first found browser of the family's program, or empty.
QString BrowserProgram(const QList<FoundBrowser>& found, BrowserFamily family);
