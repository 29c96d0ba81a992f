#include "integration/desktop/show_in_folder.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QUrl>
#include <utility>

namespace {

const QString kFileManager = QStringLiteral("org.freedesktop.FileManager1");
// A file manager started by the call needs a moment to come up.
constexpr int kCallTimeoutMs = 10000;

}  // namespace

void ShowInFolder(const QDBusConnection& bus, const QString& path,
                  std::function<void(const QString& folder)> openFolder, QObject* context) {
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        kFileManager, QStringLiteral("/org/freedesktop/FileManager1"), kFileManager,
        QStringLiteral("ShowItems"));
    // The second argument is a startup notification id, which we have none of.
    message
        << QStringList{QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded)}
        << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, kCallTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, folder, openFolder = std::move(openFolder)] {
                         watcher->deleteLater();
                         if (watcher->isError()) {
                             openFolder(folder);
                         }
                     });
}
