#include "tests/support/served_peer.h"

#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "tests/support/peer_process.h"

namespace {

QString PeersFolder() {
    const QString folder = QStringLiteral(BRENLOFT_BINARY_DIR "/test-peers");
    QDir().mkpath(folder);
    return folder;
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

ServedPeer::ServedPeer(Kind kind)
    : kind_(std::move(kind)),
      dir_(PeersFolder() + u'/' + kind_.folder + QStringLiteral("-XXXXXX")) {}

ServedPeer::~ServedPeer() {
    stop();
}

void ServedPeer::stop() {
    if (!process_) {
        return;
    }
    const std::vector<qint64> children = endChildren(process_->pid());
    process_->stop();
    process_.reset();
    QDeadlineTimer deadline(5000);
    for (qint64 child : children) {
        while (ProcessAlive(child) && !deadline.hasExpired()) {
            QThread::msleep(5);
        }
        if (ProcessAlive(child)) {
            ::kill(static_cast<pid_t>(child), SIGKILL);
        }
    }
}

qint64 ServedPeer::pid() const {
    return process_ ? process_->pid() : 0;
}

QString ServedPeer::urlWith(const QString& userInfo, const QString& path) const {
    return kind_.scheme + QStringLiteral("://") + userInfo + QStringLiteral("127.0.0.1:") +
           QString::number(port_) + (path.startsWith(u'/') ? path : u'/' + path);
}

QString ServedPeer::error() const {
    QString text = error_;
    for (const QString& log : kind_.logs) {
        const QString more = ReadText(inFolder(log));
        if (!more.isEmpty()) {
            text += u'\n' + more;
        }
    }
    return text;
}

bool ServedPeer::installed() {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no folder for %1: %2").arg(kind_.name, dir_.errorString());
        return false;
    }
    if (!QFileInfo(kind_.program).isExecutable()) {
        error_ = QStringLiteral("%1 is not installed (Debian package %2)")
                     .arg(kind_.program, kind_.package);
        return false;
    }
    return true;
}

bool ServedPeer::writeFile(const QString& name, const QByteArray& bytes) {
    QFile file(inFolder(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) < 0 ||
        !file.flush()) {
        error_ = QStringLiteral("cannot write ") + file.fileName();
        return false;
    }
    return true;
}

bool ServedPeer::retryOnClash(const std::function<bool()>& once, const QString& clash) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (once()) {
            return true;
        }
        if (!error().contains(clash)) {
            break;
        }
    }
    return false;
}

bool ServedPeer::launch(const QString& program, const QStringList& arguments,
                        const std::function<bool()>& serving) {
    if (serving && port_ == 0) {
        error_ = QStringLiteral("no free port for ") + kind_.name;
        return false;
    }
    process_ = std::make_unique<PeerProcess>();
    if (!process_->start(program, arguments)) {
        error_ = QStringLiteral("%1 did not start: %2").arg(kind_.name, process_->error());
        process_.reset();
        return false;
    }
    if (serving) {
        if (!WaitUntilServing(process_->pid(), serving)) {
            error_ = QStringLiteral("%1 did not come up on port %2").arg(kind_.name).arg(port_);
            stop();
            return false;
        }
    } else {
        bool number = false;
        port_ = process_->firstLine().toInt(&number);
        if (!number || port_ <= 0) {
            error_ = kind_.name + QStringLiteral(" announced no port\n") +
                     QString::fromUtf8(process_->errorOutput());
            stop();
            port_ = 0;
            return false;
        }
    }
    error_.clear();
    return true;
}
