#include "update/package_signature.h"

#include <gtest/gtest.h>

#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "tests/update/update_test_tools.h"

namespace {

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
    EXPECT_EQ(PackageSignatureProblem(package, signature, maker.publicPem), QString());

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
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(PackageSignatureProblem(c.package, c.signature, c.key).isEmpty()) << c.name;
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
    EXPECT_FALSE(PackageSignatureProblem(package, signature, BuiltInUpdateKey()).isEmpty());
}

}  // namespace
