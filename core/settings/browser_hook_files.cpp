#include "core/settings/browser_hook_files.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

QString InFolder(const QString& folder, const char* name) {
    return QDir(folder).filePath(QLatin1String(name));
}

// Whole or not at all: the launcher may read the file at any moment.
bool WriteWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

}  // namespace

bool WriteIeModeFile(const QString& applicationFolder, int mode) {
    return WriteWhole(InFolder(applicationFolder, IeModeFileName),
                      QByteArray::number(mode) + "\r\n");
}

int ReadIeModeFile(const QString& applicationFolder) {
    QFile file(InFolder(applicationFolder, IeModeFileName));
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    bool ok = false;
    const int mode = file.readLine(16).trimmed().toInt(&ok);
    return ok && mode >= 0 && mode <= 3 ? mode : 0;
}

bool WriteContextMenuFile(const QString& applicationFolder, bool installed) {
    const QString path = InFolder(applicationFolder, ContextMenuFileName);
    if (installed) {
        return WriteWhole(path, "-1\r\n");
    }
    return !QFile::exists(path) || QFile::remove(path);
}

bool ContextMenuInstalled(const QString& applicationFolder) {
    return QFile::exists(InFolder(applicationFolder, ContextMenuFileName));
}
