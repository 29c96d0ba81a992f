#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "tests/support/served_peer.h"

// A real nginx for a test: 127.0.0.1 (and [::1], when asked) on a free port, serving `root`, with
// its configuration, logs and temporary files in a folder of its own under the build tree. It runs
// as a single process (no master, no workers), so it reads the served files with the rights of
// whoever runs the test, root included, and one pid stops all of it.
//
// Locations are added before start(); each helper serves the root under a prefix that begins
// and ends with "/", unless it says otherwise. Texts go into the configuration quoted; a "$"
// in them would still name an nginx variable.
class NginxPeer : public ServedPeer {
public:
    explicit NginxPeer(QString root);

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

    // Serves TLS with this certificate chain and key, limited to `protocols` as nginx names
    // them, and logs each request with whether its TLS session was resumed (see tlsLog());
    // url() then names https://.
    void setTls(const QString& certificateFile, const QString& keyFile,
                const QString& protocols = QStringLiteral("TLSv1.2 TLSv1.3"));
    // One line per request answered over TLS: "r" when its session was resumed, "." when it
    // took a full handshake, then a blank and the request line.
    QStringList tlsLog() const;

    // Logs each request (see accessLog()). Before start().
    void logRequests() { logRequests_ = true; }
    // One line per request answered: the status, the body bytes sent, the Range header as
    // received in quotes ("-" without one), then the request line in quotes.
    QStringList accessLog() const;

    // Logs each request with the headers a browser's hand-over brings (see headerLog()).
    // Before start().
    void logRequestHeaders() { logHeaders_ = true; }
    struct LoggedRequest {
        int status = 0;
        qint64 bodyBytes = 0;
        // As received; empty when the request had none. nginx writes a byte outside printable
        // ASCII (and a double quote) as "\xHH".
        QString host;
        QString range;
        QString referer;
        QString cookie;
        QString userAgent;
        QString request;  // the request line
        QString authorization;
    };
    QList<LoggedRequest> headerLog() const;

    // Listens on [::1] too, on the same port as on 127.0.0.1.
    void listenOnIPv6() { ipv6_ = true; }
    // Listens on this loopback address too (127.0.0.2: another host), on the same port.
    void listenOn(const QString& address) { addresses_ << address; }

    // Writes the configuration, starts nginx and waits until it accepts connections. Returns
    // false with the reason in error() (followed by nginx's error log) when it does not come up.
    // port(), pid(), url(path) ("http://127.0.0.1:<port>" and the path), folder() and stop()
    // are those of every peer.
    bool start();

private:
    QString configuration() const;
    bool startOnce();

    QString root_;
    QStringList snippets_;
    QString tlsCertificate_;
    QString tlsKey_;
    QString tlsProtocols_;
    int passwordFiles_ = 0;
    bool ipv6_ = false;
    QStringList addresses_;
    bool logRequests_ = false;
    bool logHeaders_ = false;
};
