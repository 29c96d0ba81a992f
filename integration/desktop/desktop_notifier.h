#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

#include "integration/desktop/download_end.h"

class TextTable;

// Tells the desktop's notification server (org.freedesktop.Notifications on the session bus)
// of downloads that ended. Ends that come within GroupWindowMs of the first are one
// notification; while one is still on the screen, the next replaces it and counts its ends too.
// A finished file alone offers "Open" and "Show in folder" where the server shows actions.
// Where no server runs nothing is sent and nothing is said: the lists tell the same.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr int GroupWindowMs = 1000;
    static constexpr char ServiceName[] = "org.freedesktop.Notifications";

    struct Hooks {
        std::function<bool()> enabled;     // the option, read at each end
        std::function<QString()> trayTip;  // what the tray would say; empty where one shows it
        std::function<void(const QString& path)> open;
        std::function<void(const QString& path)> showInFolder;
    };

    DesktopNotifier(const QDBusConnection& bus, const TextTable& texts, Hooks hooks,
                    QObject* parent = nullptr);

    void tell(const DownloadEnd& end);
    // Every end heard is told or dropped (no server); none waits for the window or the server.
    bool idle() const { return pending_.empty() && !window_.isActive() && !asking_; }

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    // The window is over: asks the server what it shows, then sends.
    void flush();
    void send(const QStringList& capabilities);
    QStringList actionsFor(const QStringList& capabilities) const;

    QDBusConnection bus_;
    const TextTable& texts_;
    Hooks hooks_;
    QTimer window_;
    std::vector<DownloadEnd> pending_;  // heard since the window opened
    std::vector<DownloadEnd> shown_;    // what the notification on the screen counts
    uint shownId_ = 0;                  // 0: none of ours is on the screen
    bool asking_ = false;               // a capabilities question is on its way
};
