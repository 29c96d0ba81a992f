#include "net/tls_context.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cerrno>

#include "core/diagnostics/log_categories.h"
#include "net/tls_connection.h"

namespace {

// The socket BIO of OpenSSL writes with write(2): a peer gone away would raise SIGPIPE. This one
// sends with MSG_NOSIGNAL and otherwise does what the socket BIO does.
int SocketWrite(BIO* bio, const char* data, int size) {
    ssize_t n;
    do {
        n = ::send(BIO_get_fd(bio, nullptr), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    BIO_clear_retry_flags(bio);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* into, int size) {
    ssize_t n;
    do {
        n = ::recv(BIO_get_fd(bio, nullptr), into, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    BIO_clear_retry_flags(bio);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(n);
}

long SocketControl(BIO* bio, int command, long /*number*/, void* pointer) {
    switch (command) {
        case BIO_C_SET_FD:
            BIO_set_init(bio, 1);
            BIO_set_data(
                bio, reinterpret_cast<void*>(static_cast<intptr_t>(*static_cast<int*>(pointer))));
            return 1;
        case BIO_C_GET_FD: {
            const auto fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
            if (pointer != nullptr) {
                *static_cast<int*>(pointer) = fd;
            }
            return BIO_get_init(bio) != 0 ? fd : -1;
        }
        case BIO_CTRL_FLUSH:
            return 1;
        default:
            return 0;
    }
}

int NewSession(SSL* ssl, SSL_SESSION* session) {
    auto* connection = static_cast<TlsConnection*>(SSL_get_app_data(ssl));
    if (connection == nullptr || SSL_SESSION_is_resumable(session) == 0 ||
        !connection->context().isCurrent(SSL_get_SSL_CTX(ssl))) {
        return 0;
    }
    connection->context().remember(connection->cacheKey(), session);
    return 1;  // the cache holds the reference now
}

}  // namespace

QByteArray CertificateFingerprint(const QByteArray& der) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(der.constData(), static_cast<size_t>(der.size()), digest, &size, EVP_sha256(),
                   nullptr) != 1) {
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(size));
}

TlsContext::TlsContext() {
    bioMethod_ = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                              "brenloft socket");
    Q_ASSERT(bioMethod_ != nullptr);
    BIO_meth_set_write(bioMethod_, SocketWrite);
    BIO_meth_set_read(bioMethod_, SocketRead);
    BIO_meth_set_ctrl(bioMethod_, SocketControl);
}

TlsContext::~TlsContext() {
    clear();
    BIO_meth_free(bioMethod_);
}

void TlsContext::clear() {
    for (SSL_SESSION* s : std::as_const(sessions_)) {
        SSL_SESSION_free(s);
    }
    sessions_.clear();
    // Connections still open hold their own reference to the context.
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
}

void TlsContext::setSettings(TlsSettings settings) {
    // Sessions made under other rules must not skip the checks of the new ones.
    clear();
    settings_ = std::move(settings);
}

bool TlsContext::trusts(const QString& host, const QByteArray& fingerprint) const {
    for (const auto& [trustedHost, trustedPrint] : settings_.trusted) {
        if (!fingerprint.isEmpty() && trustedPrint == fingerprint &&
            trustedHost.compare(host, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

SSL_CTX* TlsContext::context() {
    if (ctx_ != nullptr) {
        return ctx_;
    }
    problem_.clear();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) {
        problem_ = QStringLiteral("TLS is not available (%1)")
                       .arg(QString::fromLatin1(ERR_reason_error_string(ERR_get_error())));
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    static const unsigned char alpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    SSL_CTX_set_alpn_protos(ctx, alpn, sizeof alpn);
    SSL_CTX_set_default_verify_paths(ctx);
    if (!settings_.caFile.isEmpty() &&
        SSL_CTX_load_verify_locations(ctx, settings_.caFile.toLocal8Bit().constData(), nullptr) !=
            1) {
        problem_ =
            QStringLiteral("the CA certificate file %1 could not be read").arg(settings_.caFile);
        ERR_clear_error();
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, NewSession);
    ctx_ = ctx;
    return ctx_;
}

void TlsContext::remember(const QString& key, SSL_SESSION* session) {
    Q_ASSERT(session != nullptr);
    SSL_SESSION*& slot = sessions_[key];
    if (slot != session) {
        SSL_SESSION_free(slot);
        slot = session;
    } else {
        SSL_SESSION_free(session);  // already held once
    }
}

void TlsContext::forget(const QString& key) {
    SSL_SESSION_free(sessions_.take(key));
}
