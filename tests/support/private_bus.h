#pragma once

#include <QString>
#include <memory>

class PeerProcess;
class QDBusConnection;
class QProcessEnvironment;
class Sandbox;

// A dbus-daemon of the test's own, listening on a socket in its own folder, so nothing of the
// machine's buses is reached. Anyone may own any name. With a service folder, a call to a
// name nobody owns starts the program its activation file names; without, it fails at once.
class PrivateBus {
public:
    PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    ~PrivateBus();

    // `type` is "session" or "system". Returns false with the reason in error().
    bool start(const QString& type, const QString& serviceFolder = QString());
    // Stops the daemon by its pid (the programs it started are the test's to stop).
    void stop();

    QString address() const { return address_; }
    qint64 pid() const;
    QString error() const { return error_; }

    // The environment the daemon gives the programs it starts (a sandboxed home, as a user's
    // session gives them theirs), asked for over `connection`; whether the daemon took it.
    static bool SetActivationEnvironment(QDBusConnection& connection,
                                         const QProcessEnvironment& environment);

private:
    std::unique_ptr<Sandbox> box_;
    std::unique_ptr<PeerProcess> daemon_;
    QString address_;
    QString error_;
};
