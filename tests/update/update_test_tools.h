#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Keys, packages and a stand-in updater for the update tests, made with the real tools:
// openssl for Ed25519 keys and signatures, Python's zipfile for packages.

struct SigningKey {
    QString privateKeyFile;  // PEM
    QByteArray publicPem;    // empty when the key could not be made
};

// A new Ed25519 key pair (`openssl genpkey -algorithm ed25519`) in `folder`; "x25519" makes a
// key of another kind.
SigningKey MakeSigningKey(const QString& folder, const QString& name,
                          const QString& algorithm = QStringLiteral("ed25519"));
// `openssl pkeyutl -sign -rawin`: the 64-byte signature of `file` into `signature`.
bool SignFile(const SigningKey& key, const QString& file, const QString& signature);
// One of tests/update/update_packages.py's packages ("good", "slip", "old", a version) at `out`.
bool MakePackage(const QString& out, const QString& kind);
// The members of a good package, as they lie under an installation folder.
QStringList PackageFiles();

// An executable script at `path` that writes each of its arguments on a line of `marker`.
bool WriteStubProgram(const QString& path, const QString& marker);
// The lines the stub wrote, or empty while it has not run.
QStringList MarkerLines(const QString& marker);
