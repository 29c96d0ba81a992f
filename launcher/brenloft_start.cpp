#include "launcher/brenloft_start.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

QString BrenloftProgram(const QString& override, const QString& launcherFolder) {
    if (!override.isEmpty()) {
        return override;
    }
    const QFileInfo beside(QDir(launcherFolder).filePath(QStringLiteral("Brenloft")));
    if (beside.isFile() && beside.isExecutable()) {
        return beside.absoluteFilePath();
    }
    // QProcess looks a name without a folder up on PATH.
    return QStringLiteral("Brenloft");
}

QString StartBrenloft(const QString& commandLine) {
    QProcess process;
    process.setProgram(BrenloftProgram(qEnvironmentVariable("BRENLOFT_PROGRAM"),
                                       QCoreApplication::applicationDirPath()));
    process.setArguments({commandLine});
    // The launcher's streams belong to the browser (in native-messaging mode they carry the
    // messages); the program must not write into them or keep them open.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        return QStringLiteral("cannot start %1: %2").arg(process.program(), process.errorString());
    }
    return {};
}
