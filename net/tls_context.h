#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>

struct ssl_ctx_st;
struct ssl_session_st;
struct bio_method_st;

// How TLS connections are checked, as the front ends set it for the whole program.
struct TlsSettings {
    bool verify = true;  // false: any certificate is accepted (a front end warns about it)
    QString caFile;      // trusted besides the system's CA store; empty for none
    // (host, SHA-256 of the leaf certificate): accepted for that host even if it does not verify.
    QList<QPair<QString, QByteArray>> trusted;
};

// The one SSL_CTX every TLS connection is made from, and the client session cache that lets
// the segment connections of one host resume the first one's session instead of paying a full
// handshake each. Rebuilt (cache and all) when the settings change.
class TlsContext {
public:
    TlsContext();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    void setSettings(TlsSettings settings);
    const TlsSettings& settings() const { return settings_; }
    bool trusts(const QString& host, const QByteArray& fingerprint) const;

    // The context for a new connection, made on first use; null (with the reason in
    // problem()) when it cannot be made, e.g. the CA file does not load.
    ssl_ctx_st* context();
    QString problem() const { return problem_; }
    // Whether a connection was made under the present settings: only those fill the cache.
    bool isCurrent(const ssl_ctx_st* ctx) const { return ctx != nullptr && ctx == ctx_; }
    // Sending without SIGPIPE: the socket BIO every connection uses.
    const bio_method_st* socketMethod() const { return bioMethod_; }

    // The latest session of host:port, still owned by the cache; null when there is none.
    ssl_session_st* session(const QString& key) const { return sessions_.value(key); }
    // Takes the reference the new-session callback hands over, freeing the one it replaces.
    void remember(const QString& key, ssl_session_st* session);
    void forget(const QString& key);

    // Handshakes done since start, for tests and benchmarks.
    int fullHandshakes = 0;
    int resumedHandshakes = 0;

private:
    void clear();

    TlsSettings settings_;
    ssl_ctx_st* ctx_ = nullptr;
    QString problem_;
    QHash<QString, ssl_session_st*> sessions_;
    bio_method_st* bioMethod_ = nullptr;
};

// The SHA-256 of a DER certificate, as raw bytes; hex with toHex() for people.
QByteArray CertificateFingerprint(const QByteArray& der);
