#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "integration/autostart/autostart_entry.h"
#include "integration/browsers/browser_integration.h"

class DownloadQueue;
class HostLimits;
class Options;
class QWidget;
class QtTranslation;
class SettingsStore;
class TextTable;
class VelmoraSockets;
struct Settings;

// The options window in the running program: opened from the main window, and everything its
// OK changed made to take effect at once. The speed limit reaches the sockets, downloads
// already running included; more simultaneous downloads start queued ones; the new language
// recaptions every open window. The page's own proxies and the schedule need nothing here: the
// next connection and the next tick read the settings (the system's proxy settings are switched
// on applied()).
class OptionsWiring : public QObject {
    Q_OBJECT
public:
    // The windows open now that take a new language; asked at each switch, so windows that
    // come and go (download windows, previews) are found as they are then.
    using WindowList = std::function<QList<QWidget*>()>;

    struct Parts {
        Settings& settings;
        SettingsStore& store;
        TextTable& texts;
        QtTranslation& qtTexts;
        VelmoraSockets& sockets;
        DownloadQueue& queue;
        QStringList languageFolders;
        QString applicationFolder;
        HostLimits* hostLimits = nullptr;  // the servers that took fewer connections
    };

    OptionsWiring(Parts parts, BrowserIntegration::Setup browsers, AutoStartEntry autoStart,
                  QObject* parent = nullptr);
    ~OptionsWiring() override;

    // Another list of windows for the language switch.
    void addWindows(WindowList windows);

    // The main window's Options command: the window filled from the settings and shown, or,
    // when it is open already, brought forward as it is.
    void open();
    // The open window, or nullptr.
    Options* window() const;

    // What OK changed, applied to the running program.
    void applyAtOnce();

signals:
    // applyAtOnce ran: what else follows the options (the remote control) follows now.
    void applied();

private:
    Parts parts_;
    BrowserIntegration browsers_;
    AutoStartEntry autoStart_;
    QList<WindowList> windowLists_;
    std::unique_ptr<Options> window_;
    // A closed window, handed to the event loop for deletion: it closes from its own button's
    // handler. Deleted here if the loop never gets to it.
    QPointer<Options> retiring_;
};
