#pragma once

// Certificates for TLS tests, made in a sandbox with the openssl command: a test CA ("ca.pem"),
// a second CA nobody trusts, one key for every server ("server.key") and a certificate for
// each case: good.pem (127.0.0.1, ::1 and localhost, signed by the test CA), expired.pem,
// future.pem, wrong-host.pem, unknown-ca.pem, self-signed.pem.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "tests/support/sandbox.h"

struct Certificates {
    Sandbox box;
    QString problem;  // what went wrong in make()

    QString file(const QString& name) const { return box.file(name); }
    // Makes them all; false with `problem` set when openssl refused.
    bool make();
    // SHA-256 of a PEM certificate's DER bytes.
    QByteArray fingerprint(const QString& name) const;

private:
    bool openssl(const QStringList& arguments);
    bool makeCa(const QString& name);
    bool sign(const QString& ca, const QString& out, const QString& extensions,
              const QStringList& validity);
};
