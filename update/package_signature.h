#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Update packages are signed by the program's maker: next to "kestor15.zip" the server offers
// "kestor15.zip.sig", the 64-byte Ed25519 signature of the package's bytes (as
// `openssl pkeyutl -sign -rawin` writes it), checked against a public key the program carries.
// The package names its own version in its archive comment ("1.5"), so the version is signed
// with it: the version file, which anyone on the way can answer, only says where to look.
inline constexpr qsizetype Ed25519SignatureBytes = 64;
// Larger packages are refused before they are read: Ed25519 signs the whole message at once.
inline constexpr qint64 MaxPackageBytes = qint64(512) * 1024 * 1024;

// The key built into this program (PEM, SubjectPublicKeyInfo), chosen when it was built.
QByteArray BuiltInUpdateKey();

// Empty when `publicKeyPem` is an Ed25519 public key, else why not.
QString UpdateKeyProblem(const QByteArray& publicKeyPem);

// Empty when `signature` is the Ed25519 signature of `package` made with the private half of
// `publicKeyPem`; else why the package cannot be trusted.
QString PackageSignatureProblem(QByteArrayView package, const QByteArray& signature,
                                const QByteArray& publicKeyPem);

// Empty when the first line of the package's archive comment, read as the version file's first
// line is, names a version newer than the running program; else why it is not installed.
QString PackageVersionProblem(QByteArrayView package);
