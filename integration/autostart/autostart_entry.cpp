#include "integration/autostart/autostart_entry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

AutoStartEntry::AutoStartEntry(QString program, QString configHome)
    : program_(std::move(program)), configHome_(std::move(configHome)) {}

AutoStartEntry AutoStartEntry::ForThisProgram() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || !QDir::isAbsolutePath(configHome)) {
        configHome = QDir::homePath() + QStringLiteral("/.config");
    }
    return {QCoreApplication::applicationFilePath(), configHome};
}

QString AutoStartEntry::path() const {
    return QDir(configHome_).filePath(QStringLiteral("autostart/VelmoraAutoStart.desktop"));
}

QString DesktopExecArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += u'\\';
        }
        quoted += c;
    }
    quoted += u'"';
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return quoted;
}

QString AutoStartEntry::contents() const {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Brenloft\n"
               "Comment=Starts Brenloft in the notification area when you log in\n"
               "Exec=%1 /silent\n"
               "Icon=brenloft\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n")
        .arg(DesktopExecArgument(program_));
}

bool AutoStartEntry::set(bool on) const {
    if (!on) {
        return !QFile::exists(path()) || QFile::remove(path());
    }
    if (!QDir().mkpath(QDir(configHome_).filePath(QStringLiteral("autostart")))) {
        return false;
    }
    QSaveFile file(path());
    const QByteArray bytes = contents().toUtf8();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}
