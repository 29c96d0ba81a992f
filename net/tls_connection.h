#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

class TlsContext;
struct ssl_st;

// Why a TLS connection failed, kept apart from its wording so that a front end can say it in
// the user's language; TlsFailureText words it in English.
struct TlsFailure {
    enum class Reason {
        None,
        // The certificate did not verify: a user may choose to trust it for this host.
        Expired,
        NotYetValid,
        WrongHost,
        UnknownIssuer,
        SelfSigned,
        BadCertificate,  // detail: OpenSSL's words
        // Anything else.
        OldProtocol,
        HandshakeBroke,   // detail: the system's words
        HandshakeClosed,  // the server closed during the handshake
        Other,            // detail: OpenSSL's or the context's words
    };
    Reason reason = Reason::None;
    QString detail;

    bool failed() const { return reason != Reason::None; }
    bool certificate() const {
        return reason >= Reason::Expired && reason <= Reason::BadCertificate;
    }
};

// "The certificate of example.org has expired": the failure in English, naming the host.
QString TlsFailureText(const TlsFailure& failure, const QString& host);

// The TLS side of one socket entry: the SSL object over the entry's socket, from the
// handshake to the close. Every call is non-blocking; what it waits for is reported so the
// entry can arm the matching notifier.
class TlsConnection {
public:
    enum class Wait { None, Read, Write };
    // What one step of the handshake, a read or a write came to.
    enum class Outcome { Done, Again, Closed, Failed };

    // `serverName` is checked against the certificate (an IP literal as an address) and sent
    // as SNI when it is a name; sessions are shared by connections to the same host and port.
    TlsConnection(TlsContext& context, int fd, const QString& serverName, std::int32_t port);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    Outcome handshake();
    // Reads up to `size` bytes into `into`; `read` is how many came.
    Outcome read(char* into, std::int64_t size, std::int64_t& read);
    Outcome write(const char* data, std::int64_t size, std::int64_t& written);
    // Sends close_notify once, without waiting for the peer's.
    void shutdown();

    // What the last call waits for before it can go on.
    Wait wait() const { return wait_; }
    // Decrypted bytes held by TLS that no readiness will announce.
    bool pending() const;
    bool handshakeDone() const { return handshakeDone_; }
    bool closedCleanly() const { return closedCleanly_; }
    // A read or write failed for good: TLS has nothing more to give or take.
    bool broken() const { return end_ == Outcome::Failed; }
    // The errno of a failed read or write outside TLS itself; 0 otherwise.
    int systemError() const { return systemError_; }
    // Why the handshake (or a later read) failed, in plain words naming the host.
    QString problem() const { return TlsFailureText(failure_, serverName_); }
    const TlsFailure& failure() const { return failure_; }
    // SHA-256 of the server's leaf certificate, once it has been seen.
    QByteArray peerFingerprint() const { return fingerprint_; }
    QString description() const;  // "TLSv1.3, TLS_AES_256_GCM_SHA384, resumed"

    TlsContext& context() { return context_; }
    const QString& cacheKey() const { return cacheKey_; }
    const QString& serverName() const { return serverName_; }
    // Called by the certificate check: the leaf seen, and whether a trusted one overrules.
    bool overrideVerification(const QByteArray& leafFingerprint);

private:
    struct FreeSsl {
        void operator()(ssl_st* ssl) const;
    };
    // Sorts out an SSL_* result that was not a success.
    Outcome failed(int result);
    void describeFailure();

    TlsContext& context_;
    std::unique_ptr<ssl_st, FreeSsl> ssl_;
    QString serverName_;
    QString cacheKey_;
    Wait wait_ = Wait::None;
    bool handshakeDone_ = false;
    bool closedCleanly_ = false;
    bool shutdownSent_ = false;
    // Closed or Failed once the connection has ended: later reads say so again, whatever state
    // OpenSSL leaves behind.
    Outcome end_ = Outcome::Done;
    int systemError_ = 0;
    TlsFailure failure_;
    QByteArray fingerprint_;
};
