#include "tests/support/test_certificates.h"

#include <QProcess>

#include "tests/support/test_files.h"

namespace {

const char* const OpensslConfig = R"(
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[leaf_ext]
basicConstraints = CA:FALSE
subjectAltName = IP:127.0.0.1,IP:::1,DNS:localhost
[wrong_ext]
basicConstraints = CA:FALSE
subjectAltName = DNS:elsewhere.invalid
[ca]
default_ca = ca_default
[ca_default]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
email_in_dn = no
copy_extensions = none
[any]
commonName = supplied
)";

}  // namespace

bool Certificates::openssl(const QStringList& arguments) {
    QProcess p;
    p.setWorkingDirectory(box.path());
    p.start(QStringLiteral("openssl"), arguments);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        problem = QStringLiteral("openssl %1: %2")
                      .arg(arguments.join(u' '), QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

bool Certificates::makeCa(const QString& name) {
    return openssl({"req", "-x509", "-config", "openssl.cnf", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", name + ".key", "-out",
                    name + ".pem", "-days", "30", "-extensions", "ca_ext", "-subj",
                    "/CN=Brenloft test " + name});
}

bool Certificates::sign(const QString& ca, const QString& out, const QString& extensions,
                        const QStringList& validity) {
    return openssl(QStringList{"ca", "-batch", "-config", "openssl.cnf", "-cert", ca + ".pem",
                               "-keyfile", ca + ".key", "-in", "server.csr", "-out", out,
                               "-extensions", extensions, "-notext"} +
                   validity);
}

bool Certificates::make() {
    const QStringList month{"-days", "30"};
    return WriteFile(file("openssl.cnf"), OpensslConfig) && WriteFile(file("index.txt"), "") &&
           WriteFile(file("serial"), "1000\n") && makeCa("ca") && makeCa("other-ca") &&
           openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                    "server.key"}) &&
           openssl({"req", "-new", "-config", "openssl.cnf", "-key", "server.key", "-out",
                    "server.csr", "-subj", "/CN=127.0.0.1"}) &&
           sign("ca", "good.pem", "leaf_ext", month) &&
           sign("ca", "expired.pem", "leaf_ext",
                {"-startdate", "20200101000000Z", "-enddate", "20210101000000Z"}) &&
           sign("ca", "future.pem", "leaf_ext",
                {"-startdate", "20900101000000Z", "-enddate", "20910101000000Z"}) &&
           sign("ca", "wrong-host.pem", "wrong_ext", month) &&
           sign("other-ca", "unknown-ca.pem", "leaf_ext", month) &&
           openssl({"req", "-x509", "-config", "openssl.cnf", "-key", "server.key", "-out",
                    "self-signed.pem", "-days", "30", "-extensions", "leaf_ext", "-subj",
                    "/CN=127.0.0.1"});
}

QByteArray Certificates::fingerprint(const QString& name) const {
    QByteArray pem = ReadFile(file(name));
    pem = pem.mid(pem.indexOf('\n') + 1);
    pem.truncate(pem.indexOf("-----END"));
    return Sha256(QByteArray::fromBase64(pem));
}
