#include "integration/browsers/native_host_manifest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "integration/browsers/extension_ids.h"

QByteArray NativeHostManifest(BrowserFamily family, const QString& launcherPath) {
    QJsonObject manifest{
        {QStringLiteral("name"), QLatin1String(BrowserExtension::NativeHostName)},
        {QStringLiteral("description"),
         QStringLiteral("Launcher for the Velmora from Mozilla/Firefox")},
        {QStringLiteral("path"), launcherPath},
        {QStringLiteral("type"), QStringLiteral("stdio")},
    };
    if (family == BrowserFamily::Chromium) {
        manifest.insert(QStringLiteral("allowed_origins"),
                        QJsonArray{QStringLiteral("chrome-extension://%1/")
                                       .arg(QLatin1String(BrowserExtension::ChromiumId))});
    } else {
        manifest.insert(QStringLiteral("allowed_extensions"),
                        QJsonArray{QLatin1String(BrowserExtension::GeckoId)});
    }
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented);
}

QString NativeHostManifestPath(const QString& folder) {
    return QDir(folder).filePath(QLatin1String(BrowserExtension::NativeHostName) +
                                 QStringLiteral(".json"));
}

QString WriteNativeHostManifest(const QString& folder, const QByteArray& manifest) {
    if (!QDir().mkpath(folder)) {
        return QStringLiteral("cannot make the folder %1").arg(folder);
    }
    QSaveFile file(NativeHostManifestPath(folder));
    if (!file.open(QIODevice::WriteOnly) || file.write(manifest) != manifest.size() ||
        !file.commit()) {
        return QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    }
    return {};
}

QString RemoveNativeHostManifest(const QString& folder) {
    QFile file(NativeHostManifestPath(folder));
    if (!file.exists() || file.remove()) {
        return {};
    }
    return QStringLiteral("cannot remove %1: %2").arg(file.fileName(), file.errorString());
}
