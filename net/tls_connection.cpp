#include "net/tls_connection.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>

#include "net/tls_context.h"

namespace {

bool IsIpLiteral(const QString& host) {
    unsigned char address[16];
    const QByteArray text = host.toLatin1();
    return ::inet_pton(AF_INET, text.constData(), address) == 1 ||
           ::inet_pton(AF_INET6, text.constData(), address) == 1;
}

QByteArray Fingerprint(X509* certificate) {
    if (certificate == nullptr) {
        return QByteArray();
    }
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    if (size <= 0) {
        return QByteArray();
    }
    const QByteArray print =
        CertificateFingerprint(QByteArray::fromRawData(reinterpret_cast<char*>(der), size));
    OPENSSL_free(der);
    return print;
}

// Every failed check of the chain comes here: a leaf the user trusts for this host passes.
int VerifyPeer(int ok, X509_STORE_CTX* store) {
    if (ok == 1) {
        return 1;
    }
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* connection =
        ssl != nullptr ? static_cast<TlsConnection*>(SSL_get_app_data(ssl)) : nullptr;
    if (connection == nullptr) {
        return 0;
    }
    return connection->overrideVerification(Fingerprint(X509_STORE_CTX_get0_cert(store))) ? 1 : 0;
}

TlsFailure VerifyFailure(long result) {
    using Reason = TlsFailure::Reason;
    switch (result) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return {Reason::Expired, {}};
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return {Reason::NotYetValid, {}};
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return {Reason::WrongHost, {}};
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return {Reason::UnknownIssuer, {}};
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return {Reason::SelfSigned, {}};
        default:
            return {Reason::BadCertificate,
                    QString::fromLatin1(X509_verify_cert_error_string(result))};
    }
}

}  // namespace

QString TlsFailureText(const TlsFailure& failure, const QString& host) {
    using Reason = TlsFailure::Reason;
    switch (failure.reason) {
        case Reason::None:
            return {};
        case Reason::Expired:
            return QStringLiteral("The certificate of %1 has expired").arg(host);
        case Reason::NotYetValid:
            return QStringLiteral("The certificate of %1 is not valid yet").arg(host);
        case Reason::WrongHost:
            return QStringLiteral("The certificate presented by %1 is for another host name")
                .arg(host);
        case Reason::UnknownIssuer:
            return QStringLiteral("The certificate of %1 was issued by an unknown authority")
                .arg(host);
        case Reason::SelfSigned:
            return QStringLiteral("The certificate of %1 is self-signed").arg(host);
        case Reason::BadCertificate:
            return QStringLiteral("The certificate of %1 is not valid (%2)")
                .arg(host, failure.detail);
        case Reason::OldProtocol:
            return QStringLiteral(
                       "%1 offers only a TLS protocol version too old to be safe (before TLS 1.2)")
                .arg(host);
        case Reason::HandshakeBroke:
            return QStringLiteral("The connection to %1 broke during the TLS handshake (%2)")
                .arg(host, failure.detail);
        case Reason::HandshakeClosed:
            return QStringLiteral("%1 closed the connection during the TLS handshake").arg(host);
        case Reason::Other:
            return QStringLiteral("The TLS connection to %1 failed (%2)").arg(host, failure.detail);
    }
    return {};
}

void TlsConnection::FreeSsl::operator()(SSL* ssl) const {
    SSL_free(ssl);
}

TlsConnection::TlsConnection(TlsContext& context, int fd, const QString& serverName,
                             std::int32_t port)
    : context_(context),
      serverName_(serverName),
      cacheKey_(serverName.toLower() + u':' + QString::number(port)) {
    SSL_CTX* ctx = context_.context();
    if (ctx == nullptr) {
        failure_ = {TlsFailure::Reason::Other, context_.problem()};
        return;
    }
    ssl_.reset(SSL_new(ctx));
    BIO* bio = ssl_ ? BIO_new(context_.socketMethod()) : nullptr;
    if (bio == nullptr) {
        ssl_.reset();
        failure_ = {TlsFailure::Reason::Other, QStringLiteral("out of memory")};
        return;
    }
    BIO_set_fd(bio, fd, BIO_NOCLOSE);  // the entry owns the socket
    SSL_set_bio(ssl_.get(), bio, bio);
    SSL_set_app_data(ssl_.get(), this);
    const QByteArray name = serverName_.toUtf8();
    if (IsIpLiteral(serverName_)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), name.constData());
    } else {
        SSL_set_tlsext_host_name(ssl_.get(), name.constData());
        SSL_set1_host(ssl_.get(), name.constData());
    }
    SSL_set_verify(ssl_.get(), context_.settings().verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE,
                   VerifyPeer);
    if (SSL_SESSION* cached = context_.session(cacheKey_)) {
        // OpenSSL marks a TLS 1.3 session it resumed as used up; each connection takes a copy,
        // so that all the segment connections of a download resume the one ticket.
        if (SSL_SESSION* copy = SSL_SESSION_dup(cached)) {
            SSL_set_session(ssl_.get(), copy);
            SSL_SESSION_free(copy);  // the connection holds its own reference
        }
    }
}

TlsConnection::~TlsConnection() = default;

bool TlsConnection::overrideVerification(const QByteArray& leafFingerprint) {
    // Only the leaf's own failures come with it as the certificate under test.
    if (fingerprint_.isEmpty()) {
        fingerprint_ = leafFingerprint;
    }
    return context_.trusts(serverName_, leafFingerprint);
}

TlsConnection::Outcome TlsConnection::handshake() {
    Q_ASSERT(!handshakeDone_);
    if (!ssl_) {
        return Outcome::Failed;
    }
    ERR_clear_error();
    errno = 0;
    const int result = SSL_connect(ssl_.get());
    if (result != 1) {
        const Outcome outcome = failed(result);
        if (outcome == Outcome::Failed) {
            context_.forget(cacheKey_);
        }
        return outcome;
    }
    wait_ = Wait::None;
    handshakeDone_ = true;
    if (fingerprint_.isEmpty()) {
        fingerprint_ = Fingerprint(SSL_get0_peer_certificate(ssl_.get()));
    }
    ++(SSL_session_reused(ssl_.get()) == 1 ? context_.resumedHandshakes : context_.fullHandshakes);
    return Outcome::Done;
}

TlsConnection::Outcome TlsConnection::read(char* into, std::int64_t size, std::int64_t& read) {
    Q_ASSERT(handshakeDone_ && size > 0);
    read = 0;
    if (end_ != Outcome::Done) {
        return end_;
    }
    ERR_clear_error();
    errno = 0;
    std::size_t n = 0;
    const int result = SSL_read_ex(ssl_.get(), into, static_cast<std::size_t>(size), &n);
    if (result != 1) {
        const Outcome outcome = failed(result);
        if (outcome == Outcome::Closed || outcome == Outcome::Failed) {
            end_ = outcome;
        }
        return outcome;
    }
    wait_ = Wait::None;
    read = static_cast<std::int64_t>(n);
    return Outcome::Done;
}

TlsConnection::Outcome TlsConnection::write(const char* data, std::int64_t size,
                                            std::int64_t& written) {
    Q_ASSERT(handshakeDone_ && size > 0);
    written = 0;
    if (end_ == Outcome::Failed) {
        return end_;
    }
    ERR_clear_error();
    errno = 0;
    std::size_t n = 0;
    const int result = SSL_write_ex(ssl_.get(), data, static_cast<std::size_t>(size), &n);
    if (result != 1) {
        const Outcome outcome = failed(result);
        if (outcome == Outcome::Failed || outcome == Outcome::Closed) {
            end_ = Outcome::Failed;  // the next read reports it
        }
        return outcome;
    }
    wait_ = Wait::None;
    written = static_cast<std::int64_t>(n);
    return Outcome::Done;
}

void TlsConnection::shutdown() {
    if (ssl_ && handshakeDone_ && !shutdownSent_ && end_ != Outcome::Failed) {
        shutdownSent_ = true;
        ERR_clear_error();
        SSL_shutdown(ssl_.get());
        ERR_clear_error();
    }
}

bool TlsConnection::pending() const {
    return ssl_ && handshakeDone_ && SSL_has_pending(ssl_.get()) == 1;
}

QString TlsConnection::description() const {
    if (!ssl_) {
        return QString();
    }
    return QStringLiteral("%1, %2, %3")
        .arg(QString::fromLatin1(SSL_get_version(ssl_.get())),
             QString::fromLatin1(SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_.get()))),
             SSL_session_reused(ssl_.get()) == 1 ? QStringLiteral("resumed")
                                                 : QStringLiteral("full handshake"));
}

TlsConnection::Outcome TlsConnection::failed(int result) {
    const int savedErrno = errno;
    const int error = SSL_get_error(ssl_.get(), result);
    wait_ = Wait::None;
    switch (error) {
        case SSL_ERROR_WANT_READ:
            wait_ = Wait::Read;
            return Outcome::Again;
        case SSL_ERROR_WANT_WRITE:
            wait_ = Wait::Write;
            return Outcome::Again;
        case SSL_ERROR_ZERO_RETURN:
            closedCleanly_ = true;
            return Outcome::Closed;
        case SSL_ERROR_SYSCALL:
            systemError_ = savedErrno;
            if (handshakeDone_ && systemError_ == 0) {
                return Outcome::Closed;  // the TCP close without close_notify
            }
            break;
        case SSL_ERROR_SSL:
            if (handshakeDone_ &&
                ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ERR_clear_error();
                return Outcome::Closed;
            }
            break;
        default:
            break;
    }
    if (!handshakeDone_ || systemError_ == 0) {
        describeFailure();
    }
    // Nothing of this failure is left for other users of OpenSSL in this thread to find.
    ERR_clear_error();
    return Outcome::Failed;
}

void TlsConnection::describeFailure() {
    using Reason = TlsFailure::Reason;
    const unsigned long code = ERR_peek_error();
    const int reason = ERR_GET_REASON(code);
    if (fingerprint_.isEmpty()) {
        fingerprint_ = Fingerprint(SSL_get0_peer_certificate(ssl_.get()));
    }
    const auto openSslWords = [code](const char* otherwise) {
        const char* text = code != 0 ? ERR_reason_error_string(code) : nullptr;
        return QString::fromLatin1(text != nullptr ? text : otherwise);
    };
    if (handshakeDone_) {
        failure_ = {Reason::Other, openSslWords("unexpected end")};
    } else if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
        failure_ = VerifyFailure(SSL_get_verify_result(ssl_.get()));
    } else if (reason == SSL_R_UNSUPPORTED_PROTOCOL ||
               reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
               reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_VERSION_TOO_LOW) {
        failure_ = {Reason::OldProtocol, {}};
    } else if (code == 0 || reason == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        failure_ = systemError_ != 0 ? TlsFailure{Reason::HandshakeBroke,
                                                  QString::fromLocal8Bit(strerror(systemError_))}
                                     : TlsFailure{Reason::HandshakeClosed, {}};
    } else {
        failure_ = {Reason::Other, openSslWords("unknown reason")};
    }
}
