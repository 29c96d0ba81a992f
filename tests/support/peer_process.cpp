#include "tests/support/peer_process.h"

#include <QFile>

#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>

PeerProcess::~PeerProcess() {
    stop();
}

bool PeerProcess::start(const QString& program, const QStringList& arguments) {
    process_.start(program, arguments);
    if (!process_.waitForStarted(10000)) {
        error_ = process_.errorString();
        return false;
    }
    pid_ = process_.processId();
    return true;
}

QString PeerProcess::firstLine(int deadlineMs) {
    QDeadlineTimer deadline(deadlineMs);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running) {
            return {};
        }
        process_.waitForReadyRead(100);
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

void PeerProcess::stop() {
    if (pid_ > 0) {
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
        if (!process_.waitForFinished(5000)) {
            ::kill(static_cast<pid_t>(pid_), SIGKILL);
            process_.waitForFinished(5000);
        }
        pid_ = 0;
    }
}

QByteArray PeerProcess::errorOutput() {
    return process_.readAllStandardError();
}

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool LoopbackPortAccepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

bool ProcessAlive(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    // The command name may hold blanks and parentheses: the state follows the last ")".
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    const char state = end >= 0 && end + 2 < line.size() ? line[end + 2] : 'X';
    return state != 'Z' && state != 'X';
}

bool WaitUntilServing(qint64 pid, const std::function<bool()>& ready, int deadlineMs) {
    QDeadlineTimer deadline(deadlineMs);
    while (!ready()) {
        if (!ProcessAlive(pid) || deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(5);
    }
    return true;
}
