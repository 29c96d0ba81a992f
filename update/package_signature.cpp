#include "update/package_signature.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <QFile>
#include <memory>

#include "update/update_public_key.h"

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Key ReadKey(const QByteArray& pem) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio) {
        return nullptr;
    }
    return Key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
}

}  // namespace

QByteArray BuiltInUpdateKey() {
    return QByteArray(BuiltInUpdateKeyPem);
}

QString UpdateKeyProblem(const QByteArray& publicKeyPem) {
    const Key key = ReadKey(publicKeyPem);
    if (!key) {
        ERR_clear_error();
        return QStringLiteral("the update key is not a PEM public key");
    }
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) {
        return QStringLiteral("the update key is not an Ed25519 key");
    }
    return {};
}

QString PackageSignatureProblem(const QString& packagePath, const QByteArray& signature,
                                const QByteArray& publicKeyPem) {
    if (const QString problem = UpdateKeyProblem(publicKeyPem); !problem.isEmpty()) {
        return problem;
    }
    if (signature.size() != Ed25519SignatureBytes) {
        return QStringLiteral("the signature has %1 bytes instead of %2")
            .arg(signature.size())
            .arg(Ed25519SignatureBytes);
    }
    QFile package(packagePath);
    if (!package.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot read %1: %2").arg(packagePath, package.errorString());
    }
    const qint64 size = package.size();
    if (size > MaxPackageBytes) {
        return QStringLiteral("%1 has %2 bytes, more than an update package may have")
            .arg(packagePath)
            .arg(size);
    }
    // Mapped, not copied: the whole package is the message.
    static const uchar empty = 0;
    const uchar* bytes = size == 0 ? &empty : package.map(0, size);
    if (bytes == nullptr) {
        return QStringLiteral("cannot read %1: %2").arg(packagePath, package.errorString());
    }
    const Key key = ReadKey(publicKeyPem);
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    const bool good =
        context && key &&
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         std::size_t(signature.size()), bytes, std::size_t(size)) == 1;
    if (!good) {
        // The sockets' TLS reads the same thread's error queue.
        ERR_clear_error();
        return QStringLiteral("the signature of %1 does not match the update key").arg(packagePath);
    }
    return {};
}
