#include "app/desktop/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

#include "core/scheduler/hand_off_file.h"

namespace {

// The first one answers from its event loop, which a long start-up (a large list) delays.
constexpr int AnswerTimeoutMs = 30000;
constexpr const char* Taken = "taken\n";
// Lines are short; a peer that sends more is not a later start of ours.
constexpr qint64 MaxMessageBytes = 1024 * 1024;

}  // namespace

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
    // Under the hand-off lock: a later start either found no one listening and has appended
    // its lines already, or finds the socket and sends them after these.
    const HandOffLock handOff(folder_, HandOffLock::Wait::Yes);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());
    if (server_->listen(socketPath())) {
        connect(server_.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = server_->nextPendingConnection()) {
                serve(peer);
            }
        });
    }
    early_ = TakeHandOffLines(QDir(folder_).filePath(HandOffFileName())).value_or(QStringList{});
    return true;
}

void SingleInstance::serve(QLocalSocket* peer) {
    // A line each, then an empty line.
    auto lines = std::make_shared<QStringList>();
    connect(peer, &QLocalSocket::readyRead, peer, [this, peer, lines] {
        while (peer->canReadLine()) {
            const QString line = QString::fromUtf8(peer->readLine()).remove(u'\n');
            if (!line.isEmpty()) {
                lines->append(line);
                continue;
            }
            emit handedOver(std::exchange(*lines, {}));
            peer->write(Taken);
            peer->disconnectFromServer();
            return;
        }
        if (peer->bytesAvailable() > MaxMessageBytes) {
            peer->abort();
        }
    });
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
}

QString SingleInstance::handOver(const QStringList& lines) {
    // Held until the first one answers, so that the starts' lines arrive in their order.
    const HandOffLock handOff(folder_, HandOffLock::Wait::Yes);
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(2000)) {
        // The first one is still starting: it takes the file once it listens.
        if (lines.isEmpty()) {
            return {};
        }
        const QString why = AppendHandOffLines(QDir(folder_).filePath(HandOffFileName()), lines);
        return why.isEmpty() ? QString()
                             : QStringLiteral("cannot write %1: %2").arg(HandOffFileName(), why);
    }
    QByteArray message;
    for (const QString& line : lines) {
        message += line.toUtf8() + '\n';
    }
    socket.write(message + '\n');
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(AnswerTimeoutMs)) {
        answer += socket.readAll();
    }
    if (answer == Taken) {
        return {};
    }
    return QStringLiteral(
               "the Brenloft already running did not confirm within %1 seconds that it took "
               "what this start handed over; start it again if it is missing:\n%2")
        .arg(AnswerTimeoutMs / 1000)
        .arg(lines.isEmpty() ? QStringLiteral("(no address)") : lines.join(u'\n'));
}
