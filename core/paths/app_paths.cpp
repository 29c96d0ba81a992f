#include "core/paths/app_paths.h"

#include <QDir>
#include <QStandardPaths>

QString ApplicationFolder() {
    const QString home = qEnvironmentVariable("BRENLOFT_HOME");
    if (!home.isEmpty()) {
        return QDir::cleanPath(QDir(home).absolutePath());
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Brenloft");
}

QString DefaultDownloadFolder(const QString& applicationFolder) {
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString cleaned = QDir::cleanPath(downloads);
    if (downloads.isEmpty() || cleaned == QDir::cleanPath(QDir::homePath()) ||
        !QDir(cleaned).exists()) {
        return applicationFolder + QStringLiteral("/downloads/");
    }
    return cleaned + u'/';
}

QString DefaultTempFolder(const QString& applicationFolder) {
    return applicationFolder + QStringLiteral("/temp/");
}

QString CreateApplicationFolders(const QString& applicationFolder) {
    for (const QString& folder :
         {applicationFolder, applicationFolder + QStringLiteral("/downloads"),
          applicationFolder + QStringLiteral("/temp")}) {
        if (!QDir().mkpath(folder)) {
            return folder;
        }
    }
    return {};
}
