#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>

class PeerProcess;

// A real nginx for a test: 127.0.0.1 on a free port, serving `root`, with its configuration,
// logs and temporary files in a folder of its own under the build tree. It runs as a single
// process (no master, no workers), so it reads the served files with the rights of whoever
// runs the test, root included, and one pid stops all of it.
//
// Locations are added before start(); each helper serves the root under a prefix that begins
// and ends with "/", unless it says otherwise. Texts go into the configuration quoted; a "$"
// in them would still name an nginx variable.
class NginxPeer {
public:
    explicit NginxPeer(QString root);
    NginxPeer(const NginxPeer&) = delete;
    NginxPeer& operator=(const NginxPeer&) = delete;
    ~NginxPeer();

    // Raw lines for the server block, written in the order added.
    void addLocation(const QString& snippet);

    // Answers every request with the whole file and 200, ranges or not.
    void addNoRangesLocation(const QString& prefix);
    // Wants basic authorization with this user and password; nginx's password file ends each
    // of them at a ":", so neither may hold one.
    void addBasicAuthLocation(const QString& prefix, const QString& user, const QString& password);
    // Answers the exact path `from` with a redirect whose Location is `location` as given: a
    // path stays relative, an absolute URL may name another port or host.
    void addRedirect(const QString& from, const QString& location, int status = 302);
    // Sends this Content-Disposition value with every file.
    void addContentDispositionLocation(const QString& prefix, const QString& value);
    // Sends at most this many bytes per second on each connection.
    void addRateLimitedLocation(const QString& prefix, std::int64_t bytesPerSecond);

    // Writes the configuration, starts nginx and waits until it accepts connections. Returns
    // false with the reason in error() when it does not come up.
    bool start();
    // SIGTERM, then SIGKILL if it lingers; waits until the process is gone.
    void stop();

    int port() const { return port_; }
    qint64 pid() const;
    // "http://127.0.0.1:<port>" followed by the path.
    QString url(const QString& path) const;
    // The instance's own folder: configuration, error log, temporary files.
    QString folder() const { return dir_.path(); }
    // Why start() failed, followed by what nginx wrote to its error log.
    QString error() const;

private:
    QString configuration() const;
    bool startOnce();

    QString root_;
    QTemporaryDir dir_;
    QStringList snippets_;
    int passwordFiles_ = 0;
    int port_ = 0;
    std::unique_ptr<PeerProcess> process_;
    QString error_;
};
