#include "app/desktop/activation_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString ActivationFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/dbus-1/services/VelmoraProject.Velmora.service");
}

QString WriteActivationFile(const QString& executable) {
    const QString path = ActivationFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return QStringLiteral("cannot create the folder of %1").arg(path);
    }
    // dbus-daemon splits Exec like a shell would: a path with blanks must be quoted.
    QByteArray program = QFile::encodeName(QFileInfo(executable).absoluteFilePath());
    if (program.contains(' ') || program.contains('"') || program.contains('\\')) {
        program.replace('\\', "\\\\").replace('"', "\\\"");
        program = '"' + program + '"';
    }
    const QByteArray text = "[D-BUS Service]\nName=VelmoraProject.Velmora\nExec=" + program + "\n";
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text) {
        return {};
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    return {};
}
