#include "update/package_signature.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <memory>

#include "update/update_public_key.h"
#include "update/version_file.h"

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

// The comment of the end-of-directory record that ends `zip` exactly; empty when none does.
QByteArray ArchiveComment(QByteArrayView zip) {
    constexpr qsizetype RecordBytes = 22;
    const qsizetype lowest = std::max<qsizetype>(0, zip.size() - RecordBytes - 0xFFFF);
    for (qsizetype at = zip.size() - RecordBytes; at >= lowest; --at) {
        if (zip.sliced(at, 4) != QByteArrayView("PK\x05\x06")) {
            continue;
        }
        const qsizetype length = qsizetype(uchar(zip[at + 20])) | qsizetype(uchar(zip[at + 21]))
                                                                      << 8;
        if (at + RecordBytes + length == zip.size()) {
            return zip.sliced(at + RecordBytes).toByteArray();
        }
    }
    return {};
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

QString PackageSignatureProblem(QByteArrayView package, const QByteArray& signature,
                                const QByteArray& publicKeyPem) {
    if (const QString problem = UpdateKeyProblem(publicKeyPem); !problem.isEmpty()) {
        return problem;
    }
    if (signature.size() != Ed25519SignatureBytes) {
        return QStringLiteral("the signature has %1 bytes instead of %2")
            .arg(signature.size())
            .arg(Ed25519SignatureBytes);
    }
    static const uchar empty = 0;
    const auto* bytes =
        package.isEmpty() ? &empty : reinterpret_cast<const unsigned char*>(package.data());
    const Key key = ReadKey(publicKeyPem);
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    const bool good =
        context && key &&
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         std::size_t(signature.size()), bytes, std::size_t(package.size())) == 1;
    if (!good) {
        // The sockets' TLS reads the same thread's error queue.
        ERR_clear_error();
        return QStringLiteral("the package's signature does not match the update key");
    }
    return {};
}

QString PackageVersionProblem(QByteArrayView package) {
    const VersionFile named = ReadVersionFile(ArchiveComment(package));
    if (!named.hasVersion) {
        return QStringLiteral(
                   "this update names no version, so it may be no newer than the "
                   "running Brenloft %1")
            .arg(ProgramVersion);
    }
    if (!named.newer) {
        return QStringLiteral("this update (%1) is not newer than the running Brenloft %2")
            .arg(named.version)
            .arg(ProgramVersion);
    }
    return {};
}
