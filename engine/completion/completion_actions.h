#pragma once

#include <QString>
#include <QStringList>

// What a finished download may do outside the program: start the anti-virus command, hang up
// the dial-up connection, power the computer off. The desktop program asks the system bus;
// tests and the command-line front end put in their own.
class CompletionActions {
public:
    virtual ~CompletionActions() = default;
    // Starts a program without waiting; false when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    // Deactivates active modem and PPP connections (never Ethernet or Wi-Fi).
    virtual void hangUpDialUp() = 0;
    // Asks the system to power off.
    virtual void powerOff() = 0;
};

// Starts programs for real and leaves the network and the power alone.
class DetachedLauncherOnly : public CompletionActions {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override;
    void hangUpDialUp() override {}
    void powerOff() override {}
};
