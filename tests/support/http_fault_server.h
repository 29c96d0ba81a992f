#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "tests/support/served_peer.h"

// tests/support/http_fault_server.py, the HTTP server that misbehaves in the ways its MODEs
// name: the files of a folder at /MODE/NAME, generated bodies at /MODE/SIZE/NAME.
class HttpFaultServer : public ServedPeer {
public:
    // Serves the files of `root`, when given; a stall, trickle or reset comes after
    // `faultBytes` bytes of the body.
    explicit HttpFaultServer(QString root = {}, qsizetype faultBytes = 40000);

    // Starts the server, each request and fault logged to `log`, and waits for the port it
    // announces. Returns false with the reason in error() when it does not come up.
    bool start(const QString& log);
    // Speaks TLS on every connection from the next start; url() then names https://.
    void setTls(const QString& certificateFile, const QString& keyFile);
    // Serves every request in this mode from the next start, whatever its path: a file of the
    // root is found by the path's last part (see the script's --mode).
    void setMode(const QString& mode) { mode_ = mode; }
    // From the next start, resets connections beyond `count` at once (--max-connections).
    void setMaxConnections(int count) { maxConnections_ = count; }

    using ServedPeer::url;
    // The address of a generated body.
    QString url(const QString& mode, qsizetype size,
                const QString& name = QStringLiteral("file.bin")) const;

    // The bytes the server sends for /MODE/SIZE/NAME, made the same way it makes them.
    static QByteArray Body(const QString& mode, qsizetype size);

private:
    QString root_;
    qsizetype faultBytes_;
    QStringList tls_;  // certificate and key, or empty
    QString mode_;
    int maxConnections_ = 0;
};
