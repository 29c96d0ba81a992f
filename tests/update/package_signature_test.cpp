#include "update/package_signature.h"

#include <gtest/gtest.h>

#include "update/sealed_package.h"

#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "tests/update/update_test_tools.h"

namespace {

// As the installer asks: the file read once, its signature, then its signed version.
QString Problem(const QString& path, const QByteArray& signature, const QByteArray& key) {
    QString why;
    const std::optional<SealedPackage> package = SealedPackage::Read(path, &why);
    if (package && (why = PackageSignatureProblem(package->bytes(), signature, key)).isEmpty()) {
        why = PackageVersionProblem(package->bytes());
    }
    return why;
}

// `version` as a package's archive comment, signed by `key`; the signature.
QByteArray SignedPackage(const SigningKey& key, const QString& path, const QString& version) {
    EXPECT_TRUE(MakePackage(path, version));
    EXPECT_TRUE(SignFile(key, path, path + QStringLiteral(".sig")));
    return ReadFile(path + QStringLiteral(".sig"));
}

class PackageSignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        maker = MakeSigningKey(box.path(), QStringLiteral("maker"));
        stranger = MakeSigningKey(box.path(), QStringLiteral("stranger"));
        ASSERT_FALSE(maker.publicPem.isEmpty());
        ASSERT_FALSE(stranger.publicPem.isEmpty());
        package = box.file(QStringLiteral("kestor15.zip"));
        ASSERT_TRUE(MakePackage(package, QStringLiteral("good")));
        ASSERT_TRUE(SignFile(maker, package, box.file(QStringLiteral("maker.sig"))));
        ASSERT_TRUE(SignFile(stranger, package, box.file(QStringLiteral("stranger.sig"))));
        signature = ReadFile(box.file(QStringLiteral("maker.sig")));
        ASSERT_EQ(signature.size(), Ed25519SignatureBytes);
    }

    Sandbox box;
    SigningKey maker;
    SigningKey stranger;
    QString package;
    QByteArray signature;
};

TEST_F(PackageSignatureTest, OnlyTheMakersSignatureOfTheseBytesHolds) {
    EXPECT_EQ(Problem(package, signature, maker.publicPem), QString());
    const QString same = box.file(QStringLiteral("same.zip"));
    const QString none = box.file(QStringLiteral("none.zip"));

    QByteArray flippedSignature = signature;
    flippedSignature[10] = char(flippedSignature[10] ^ 0x01);
    const QString changed = box.file(QStringLiteral("changed.zip"));
    QByteArray bytes = ReadFile(package);
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x20);
    ASSERT_TRUE(WriteFile(changed, bytes));
    const QString longer = box.file(QStringLiteral("longer.zip"));
    ASSERT_TRUE(WriteFile(longer, ReadFile(package) + "x"));

    const struct {
        const char* name;
        QString package;
        QByteArray signature;
        QByteArray key;
    } refused[] = {
        {"signed by another key", package, ReadFile(box.file(QStringLiteral("stranger.sig"))),
         maker.publicPem},
        {"checked against another key", package, signature, stranger.publicPem},
        {"one byte of the package changed", changed, signature, maker.publicPem},
        {"a byte added to the package", longer, signature, maker.publicPem},
        {"one bit of the signature changed", package, flippedSignature, maker.publicPem},
        {"no signature", package, QByteArray(), maker.publicPem},
        {"a signature cut short", package, signature.left(63), maker.publicPem},
        {"a signature with more", package, signature + 'x', maker.publicPem},
        {"an error page for a signature", package, QByteArray(64, '<'), maker.publicPem},
        {"no package", box.file(QStringLiteral("gone.zip")), signature, maker.publicPem},
        {"no key", package, signature, QByteArray()},
        {"a damaged key", package, signature, maker.publicPem.left(40)},
        {"signed, but no newer than this program", same,
         SignedPackage(maker, same, QStringLiteral("1.0")), maker.publicPem},
        {"signed, but naming no version", none, SignedPackage(maker, none, QString()),
         maker.publicPem},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(Problem(c.package, c.signature, c.key).isEmpty()) << c.name;
    }
}

TEST_F(PackageSignatureTest, KeysMustBeEd25519) {
    EXPECT_EQ(UpdateKeyProblem(maker.publicPem), QString());
    EXPECT_EQ(UpdateKeyProblem(BuiltInUpdateKey()), QString()) << "the built-in key";
    const SigningKey other = MakeSigningKey(box.path(), QStringLiteral("x"), "x25519");
    ASSERT_FALSE(other.publicPem.isEmpty());
    EXPECT_FALSE(UpdateKeyProblem(other.publicPem).isEmpty());
    EXPECT_FALSE(UpdateKeyProblem("-----BEGIN PUBLIC KEY-----\nnonsense\n").isEmpty());
    // The tests' key is not the program's: a package they sign is refused by the program.
    EXPECT_FALSE(Problem(package, signature, BuiltInUpdateKey()).isEmpty());
}

}  // namespace
