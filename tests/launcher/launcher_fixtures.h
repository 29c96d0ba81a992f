#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <vector>

#include "tests/support/peer_process.h"
#include "tests/support/private_bus.h"
#include "tests/support/sandbox.h"

// A session bus of the test's own: a dbus-daemon whose only service folder is one of the
// test's, so D-Bus activation starts exactly what the test put there. A stand-in the bus
// started ends by itself when the bus goes.
class PrivateSessionBus {
public:
    explicit PrivateSessionBus(const Sandbox& box) : box_(box) {}
    ~PrivateSessionBus();

    bool start();
    QString address() const { return address_; }
    // Lets the bus start `program arguments...` when someone calls VelmoraProject.Velmora.
    bool addVelmoraActivation(const QString& program, const QStringList& arguments) const;
    // The process owning VelmoraProject.Velmora, or 0.
    qint64 velmoraOwner();

private:
    const Sandbox& box_;
    PrivateBus bus_;
    QString address_;
    QString connectionName_;
};

// The stand-in for Brenloft's service, started by the test on a bus. It records each IEURL
// argument as a line of `record`.
class VelmoraStandIn {
public:
    bool start(const QString& busAddress, const QString& record);

private:
    PeerProcess peer_;
};

// A script that appends one line per start to `mark`: its argument count, then each argument
// in brackets; and one to `mark`.streams: what its stdin, stdout and stderr are open on.
// Stands in for Brenloft where the launcher starts the program.
QString WriteMarkScript(const Sandbox& box, const QString& mark);

// The lines of a file, without their line ends; empty when it is missing.
QStringList FileLines(const QString& path);

struct LauncherRun {
    bool finished = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The environment of a launcher start: the bus at `busAddress` (none when empty), and
// `program` in place of Brenloft, so that no start ever reaches the user's own.
QProcessEnvironment LauncherEnvironment(const QString& busAddress, const QString& program);

// Runs VelmoraLauncher to its end with `input` on stdin.
LauncherRun RunLauncher(const QStringList& arguments, const QProcessEnvironment& environment,
                        const QByteArray& input = {});

// A native-messaging frame: the length in native byte order, then the body.
QByteArray Header(quint32 length);
QByteArray Framed(const QByteArray& body);
// The answers in `out`, which must be whole frames of JSON objects.
std::vector<QJsonObject> Answers(const QByteArray& out);
// Noise for the host, the same for the same generator seed.
QByteArray RandomBytes(QRandomGenerator& random, int count);
