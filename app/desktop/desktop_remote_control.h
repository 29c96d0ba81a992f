#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "rpc/remote_control.h"

class DownloadQueue;
class SettingsStore;
struct EngineContext;

// The remote control as the desktop program runs it: listening while the options say so, made
// again when what it listens with changes (port, secret, addresses, certificate files), and
// what its clients ask of the program (keep changed options, quit) passed on.
class DesktopRemoteControl : public QObject {
    Q_OBJECT
public:
    struct Parts {
        EngineContext& ctx;
        DownloadQueue& queue;
        SettingsStore& store;
        // Tells the user, in their language and without waiting for them.
        std::function<void(const QString& text)> tell;
        // aria2.changeGlobalOption's settings were saved: an open options window shows them.
        std::function<void()> settingsSaved;
        // aria2.shutdown or forceShutdown: the program ends as its own Exit ends it.
        std::function<void()> quit;
    };

    explicit DesktopRemoteControl(Parts parts, QObject* parent = nullptr);
    ~DesktopRemoteControl() override;

    // Follows the settings: starts, stops or remakes the server. Turned on without a secret, it
    // makes one and saves it first. Options that did not change since the last call leave it
    // as it is, a server that failed to listen included: a failure is told once.
    void apply();

private:
    void saveSettings();

    Parts parts_;
    std::optional<RemoteControlOptions> applied_;  // what the last apply listened with, if on
    std::unique_ptr<RemoteControl> server_;
};
