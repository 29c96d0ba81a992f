#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

// A real peer (a server program) started by a test and stopped by its process id when the
// test ends, whatever happens in between.
class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess();

    // Starts the program; returns false (with the reason in error()) when it does not start.
    bool start(const QString& program, const QStringList& arguments);
    // The first line the peer prints on stdout (a server announcing its port), or empty when
    // none came within the deadline.
    QString firstLine(int deadlineMs = 10000);
    void stop();
    qint64 pid() const { return pid_; }
    QString error() const { return error_; }
    QByteArray errorOutput();

private:
    QProcess process_;
    qint64 pid_ = 0;
    QString error_;
};

// Whether the process exists and has not ended (a zombie has ended), from the process table.
bool ProcessAlive(qint64 pid);

// Waits until `ready` holds, for at most `deadlineMs`; false as soon as the process `pid` ends
// (a start that failed ends the wait at once) or the deadline passes.
bool WaitUntilServing(qint64 pid, const std::function<bool()>& ready, int deadlineMs = 10000);

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLoopbackPort();

// Whether something accepts connections on 127.0.0.1:port.
bool LoopbackPortAccepts(int port);
