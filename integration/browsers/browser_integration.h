#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

#include "integration/browsers/browser_catalog.h"

// Turning the options window's browser boxes on and off: the launcher's native-messaging
// manifests for the browsers found, and the browser started where the user adds or removes
// the extension. Nothing here shows a window; the caller shows the interface text it is given.
class BrowserIntegration {
public:
    // Starts a program detached, with an argument list (never through a shell); false when it
    // could not be started.
    using StartProgram = std::function<bool(const QString& program, const QStringList& arguments)>;

    struct Setup {
        BrowserPlaces places;
        QString launcher;            // VelmoraLauncher's absolute path; empty when not found
        QStringList packageFolders;  // where the packaged extension is looked for
        StartProgram start;          // QProcess::startDetached when empty
    };

    // Where the program runs from: the user's folders and PATH, the launcher beside the
    // program (else on PATH), the package in the application folder or the installed data.
    static Setup SetupFor(const QString& applicationFolder);

    explicit BrowserIntegration(Setup setup);

    // Looks for the browsers again; the options window does so each time it is filled.
    void refresh();
    const QList<FoundBrowser>& found() const { return found_; }
    bool familyFound(BrowserFamily family) const { return !program(family).isEmpty(); }
    // The program of the family's first browser found, or empty: MozillaExePath and
    // FirefoxExePath are this for SeaMonkey and Firefox.
    QString program(BrowserFamily family) const { return BrowserProgram(found_, family); }

    // Installs the manifests for the family's browsers found (on), or removes the family's
    // manifests wherever they are (off) except those that a family in `stillOn` shares.
    // Returns the interface text to show: 773 installed, 772 when the launcher is missing or
    // a manifest could not be written (`why()` says which), 774 removed.
    int setFamily(BrowserFamily family, bool on, const QSet<BrowserFamily>& stillOn);
    QString why() const { return why_; }

    // Starts the family's browser where the extension is added (on) or removed (off): the
    // packaged extension for Mozilla's browsers (their add-ons page without one), the
    // extensions page for Chromium's, which install extensions only from their store.
    // False when no browser of the family was found or it did not start.
    bool openExtensionPage(BrowserFamily family, bool on);
    // What that browser is started with: the package, or the page to open.
    QString extensionPage(BrowserFamily family, bool on) const;

private:
    QString package() const;

    Setup setup_;
    QList<FoundBrowser> found_;
    QString why_;
};

// VelmoraLauncher beside the running program (as built and as installed), else on PATH;
// empty when neither has it.
QString FindVelmoraLauncher();
