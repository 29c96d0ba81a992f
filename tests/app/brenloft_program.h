#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <ostream>

#include "core/download_list/download_list.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"

// Everything one user of the desktop program owns, inside a test folder: the application
// folder, the settings, the desktop data and runtime folders, the download and part-file
// folders. Several starts of the program can share one home, as a user's starts do.
class BrenloftHome {
public:
    BrenloftHome();

    // A path inside the test folder.
    QString path(const QString& relative) const { return box_.file(relative); }
    // A file of the application folder, or the folder itself for an empty name.
    QString app(const QString& name = {}) const;
    // A file of the download folder the settings name.
    QString downloads(const QString& name) const;
    QString settingsFile() const;
    QString listFile() const { return app(QStringLiteral("Brenloft.dat")); }

    // Writes one key of the [Options] section before the program starts.
    void setOption(const QString& key, const QString& value) const;
    // The session bus the program's starts reach; none (an address that leads nowhere) until
    // a test gives one.
    void setSessionBus(const QString& address) { sessionBus_ = address; }
    // The X display the program's starts use; none (the offscreen platform) until a test gives
    // one.
    void setDisplay(const QString& display) { display_ = display; }
    QProcessEnvironment environment() const;

    // The list file as the program last wrote it, decoded without loading it (loading would
    // turn running entries into paused ones). False when it is missing or not read whole.
    bool savedList(DownloadListState& list) const;
    // Writes the hand-off file as a later start does: one line, carriage return, line feed.
    bool writeHandOff(const QByteArray& line) const;

private:
    Sandbox box_;
    QString sessionBus_;
    QString display_;
};

// One start of the real Brenloft executable in a home. Whatever is still running when the
// object goes is killed by its pid.
class BrenloftRun {
public:
    explicit BrenloftRun(const BrenloftHome& home);
    BrenloftRun(const BrenloftRun&) = delete;
    BrenloftRun& operator=(const BrenloftRun&) = delete;
    ~BrenloftRun();

    bool start(const QStringList& arguments = {});
    // Before start(): what the program writes to stderr is kept for errors() instead of shown.
    void keepErrors() { keepErrors_ = true; }
    QByteArray errors() { return process_.readAllStandardError(); }
    // Whether the program has installed its handler for the signal yet.
    bool catches(int signalNumber) const;
    // Sends the signal once the program handles it and waits for the end.
    bool stopWith(int signalNumber);
    // Ends it without a chance to save anything.
    bool kill();
    bool waitForExit();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Ended by itself with status 0.
    bool endedCleanly() const;
    qint64 pid() const { return pid_; }

private:
    const BrenloftHome& home_;
    QProcess process_;
    qint64 pid_ = 0;
    bool keepErrors_ = false;
};

// Whether the program of this home holds its single-instance socket, so a later start finds it.
bool ListensForLaterStarts(const BrenloftHome& home);

// The hash of the file, or empty when it cannot be read.
// The file holds exactly these bytes.
bool HoldsBytes(const QString& path, const QByteArray& bytes);

// Slot 1..count whose Url is this one, or 0.
int SlotOf(const DownloadListState& list, const QString& url);

// An nginx location serving `root` under `prefix` at this many bytes per second and
// connection, logging every request to `log` in the combined format.
QString SlowLoggedLocation(const QString& prefix, const QString& root, qint64 bytesPerSecond,
                           const QString& log);
// The body bytes of the requests logged in `log` from byte offset `from` on.
qint64 LoggedBodyBytes(const QString& log, qint64 from);
// How many sockets the process holds. nginx writes a request's log line before it closes
// its connection, so once it is back to its listening socket every request is logged.
int OpenSockets(qint64 pid);
