#pragma once

#include <QString>
#include <QStringList>

#include "engine/completion/completion_actions.h"

// The completion actions on a Linux desktop: programs start detached, the dial-up link is
// hung up through NetworkManager and the computer powered off through systemd-logind, both on
// the system bus (DBUS_SYSTEM_BUS_ADDRESS when set). A missing service or a refusal is not
// fatal; it only leaves its reason in lastError().
class SystemCompletionActions : public CompletionActions {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override;
    // Deactivates the active modem, PPPoE, ADSL and Bluetooth dial-up connections; Ethernet,
    // Wi-Fi, VPNs and everything else stay up.
    void hangUpDialUp() override;
    // Asks logind to power off, letting polkit ask the user when it needs to.
    void powerOff() override;

    // Why the last call did not do all it should, or empty when it did.
    QString lastError() const { return lastError_; }

    // Whether NetworkManager's connection type `type` is a dial-up kind. Bluetooth is one only
    // for a dial-up networking (DUN) profile, so `bluetoothProfile` ("dun" or "panu") decides.
    static bool IsDialUpType(const QString& type, const QString& bluetoothProfile = {});

private:
    QString lastError_;
};
