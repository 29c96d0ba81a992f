#include "tests/update/update_test_tools.h"

#include <QFile>
#include <QProcess>

#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

}  // namespace

SigningKey MakeSigningKey(const QString& folder, const QString& name, const QString& algorithm) {
    SigningKey key;
    key.privateKeyFile = folder + u'/' + name + QStringLiteral(".pem");
    const QString publicFile = folder + u'/' + name + QStringLiteral(".pub");
    if (Run(QStringLiteral("openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"),
                                        algorithm, QStringLiteral("-out"), key.privateKeyFile}) &&
        Run(QStringLiteral("openssl"),
            {QStringLiteral("pkey"), QStringLiteral("-in"), key.privateKeyFile,
             QStringLiteral("-pubout"), QStringLiteral("-out"), publicFile})) {
        key.publicPem = ReadFile(publicFile);
    }
    return key;
}

bool SignFile(const SigningKey& key, const QString& file, const QString& signature) {
    return Run(QStringLiteral("openssl"),
               {QStringLiteral("pkeyutl"), QStringLiteral("-sign"), QStringLiteral("-rawin"),
                QStringLiteral("-inkey"), key.privateKeyFile, QStringLiteral("-in"), file,
                QStringLiteral("-out"), signature});
}

bool MakePackage(const QString& out, const QString& kind) {
    return Run(QStringLiteral("/usr/bin/python3"),
               {SourcePath(QStringLiteral("tests/update/update_packages.py")), out, kind});
}

QStringList PackageFiles() {
    return {QStringLiteral("bin/Brenloft"), QStringLiteral("bin/updater"),
            QStringLiteral("share/brenloft/lang/english.txt")};
}

bool WriteStubProgram(const QString& path, const QString& marker) {
    const QByteArray script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                              QFile::encodeName(marker) + ".part'\nmv '" +
                              QFile::encodeName(marker) + ".part' '" + QFile::encodeName(marker) +
                              "'\n";
    return WriteFile(path, script) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup);
}

QStringList MarkerLines(const QString& marker) {
    const QByteArray bytes = ReadFile(marker);
    if (bytes.isEmpty()) {
        return {};
    }
    QStringList lines = QString::fromUtf8(bytes).split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}
