#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

class PeerProcess;

// What every real peer of the tests shares: a folder of its own under the build tree for its
// configuration and logs, one program on 127.0.0.1 started by the test and stopped by its pid
// (SIGTERM, then SIGKILL if it lingers), and the reason when it did not come up.
class ServedPeer {
public:
    ServedPeer(const ServedPeer&) = delete;
    ServedPeer& operator=(const ServedPeer&) = delete;
    virtual ~ServedPeer();

    // Ends the program and whatever it left running; waits until they are gone.
    void stop();

    int port() const { return port_; }
    qint64 pid() const;
    // "<scheme>://127.0.0.1:<port>" followed by the path.
    QString url(const QString& path) const { return urlWith({}, path); }
    // The instance's own folder: configuration, logs, temporary files.
    QString folder() const { return dir_.path(); }
    // Why start() failed, followed by what the peer wrote to its logs.
    QString error() const;

protected:
    struct Kind {
        QString name;      // in messages: "nginx", "the FTP server"
        QString program;   // what must be installed
        QString package;   // the Debian package that installs it
        QString folder;    // its folders are test-peers/FOLDER-XXXXXX in the build tree
        QString scheme;    // of url()
        QStringList logs;  // files of its folder that error() shows after the reason
    };
    explicit ServedPeer(Kind kind);

    QString inFolder(const QString& name) const { return dir_.filePath(name); }
    QString urlWith(const QString& userInfo, const QString& path) const;
    // For a peer that serves another scheme once told to (TLS).
    void setScheme(const QString& scheme) { kind_.scheme = scheme; }
    // The folder is there and the program installed; else false with the reason.
    bool installed();
    // Writes a file of the folder; else false with the reason.
    bool writeFile(const QString& name, const QByteArray& bytes);
    // Calls `once` until it succeeds, at most five times while its failure names `clash`: a
    // free port can be taken by someone else between choosing it and binding it.
    bool retryOnClash(const std::function<bool()>& once, const QString& clash);
    // Starts the program. With `serving`, it is up when that holds for port(), chosen before;
    // without, when it announces its port as its first line on stdout.
    bool launch(const QString& program, const QStringList& arguments,
                const std::function<bool()>& serving = {});
    // Called by stop() before the program is ended: ends what it started that would outlive
    // it and returns their pids, to be waited for. A peer that has such processes overrides
    // this and calls stop() in its own destructor.
    virtual std::vector<qint64> endChildren(qint64 /*pid*/) { return {}; }

    int port_ = 0;
    QString error_;

private:
    Kind kind_;
    QTemporaryDir dir_;
    std::unique_ptr<PeerProcess> process_;
};
