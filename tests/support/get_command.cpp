#include "tests/support/get_command.h"

#include <QProcessEnvironment>

#include "tests/support/sandbox.h"

QStringList OutputLines(const QByteArray& output) {
    return QString::fromLocal8Bit(output).split(u'\n', Qt::SkipEmptyParts);
}

void PrepareGet(QProcess& process, const Sandbox& box, const QString& workingFolder) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), box.file(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), box.file(QStringLiteral("home/.config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), box.file(QStringLiteral("home/.local/share")));
    // The proxy variables of whoever runs the tests would send every run through their proxy.
    for (const QString& name : env.keys()) {
        if (name.endsWith(QStringLiteral("_proxy"), Qt::CaseInsensitive)) {
            env.remove(name);
        }
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingFolder);
}

bool StartGet(QProcess& process, const QStringList& arguments) {
    process.start(QStringLiteral(BRENLOFT_GET_EXE), arguments);
    return process.waitForStarted(10000);
}

QStringList EightSegmentsInto(const QString& folder, const QString& url) {
    return {QStringLiteral("-q"),
            QStringLiteral("-n"),
            QStringLiteral("8"),
            QStringLiteral("-d"),
            folder,
            url};
}

QString ListPathIn(const QString& folder) {
    return folder + QStringLiteral("/.brenloft-get/Brenloft.dat");
}

GetRun RunGet(const Sandbox& box, const QStringList& arguments, const QString& workingFolder,
              std::chrono::milliseconds deadline, const QByteArray& input,
              const QStringList& variables) {
    QProcess process;
    PrepareGet(process, box, workingFolder);
    QProcessEnvironment env = process.processEnvironment();
    for (const QString& variable : variables) {
        env.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    }
    process.setProcessEnvironment(env);
    GetRun run;
    if (!StartGet(process, arguments)) {
        return run;
    }
    if (!input.isEmpty()) {
        process.write(input);
        process.closeWriteChannel();
    }
    run.finished = process.waitForFinished(static_cast<int>(deadline.count()));
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = OutputLines(process.readAllStandardOutput());
    run.err = OutputLines(process.readAllStandardError());
    return run;
}
