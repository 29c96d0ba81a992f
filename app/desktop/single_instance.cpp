#include "app/desktop/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QSaveFile>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString& applicationFolder, QObject* parent)
    : QObject(parent), folder_(applicationFolder) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath() const {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) {
        runtime = QDir::tempPath();
    }
    // One socket per application folder, so separate homes (tests, portable use) never meet.
    const QByteArray id =
        QCryptographicHash::hash(QDir(folder_).absolutePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return runtime + QStringLiteral("/brenloft-%1-%2.sock").arg(::getuid()).arg(QLatin1String(id));
}

bool SingleInstance::becomePrimary() {
    lock_ = std::make_unique<QLockFile>(QDir(folder_).filePath(QStringLiteral("Brenloft.lock")));
    // A lock left by a process that died is taken over.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());
    if (server_->listen(socketPath())) {
        connect(server_.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = server_->nextPendingConnection()) {
                connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                    if (peer->readAll().contains("raise")) {
                        emit raiseRequested();
                    }
                    peer->disconnectFromServer();
                });
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            }
        });
    }
    return true;
}

bool SingleInstance::handOver(const QString& commandLine) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    const bool answered = socket.waitForConnected(2000);
    if (answered) {
        socket.write("raise\n");
        socket.waitForBytesWritten(2000);
        socket.disconnectFromServer();
    }
    // Even when the first one is still starting and cannot answer yet, it reads this file on
    // its first tick, so the URL is not lost. Renamed into place: the first one polls for the
    // file and must never find it created but not yet written.
    if (!commandLine.trimmed().isEmpty()) {
        QSaveFile file(QDir(folder_).filePath(HandOffFileName()));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(commandLine.toLocal8Bit() + "\r\n");
            file.commit();
        }
    }
    return answered;
}
