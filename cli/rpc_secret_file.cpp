#include "cli/rpc_secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "rpc/remote_control.h"

namespace {

QString Why(const QString& path) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

// The first line of the file, when it is a plain file; empty when there is none.
QString ReadSecret(const QByteArray& native) {
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char buffer[256];
    struct stat st {};
    const ssize_t n =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::read(fd, buffer, sizeof buffer) : -1;
    // One the user made readable by others is made theirs alone again.
    if (n > 0 && (st.st_mode & 077) != 0) {
        ::fchmod(fd, 0600);
    }
    ::close(fd);
    return n > 0 ? QString::fromUtf8(buffer, n).section(u'\n', 0, 0).trimmed() : QString();
}

}  // namespace

QString KeptRpcSecret(const QString& path, QString& error) {
    const QByteArray native = QFile::encodeName(path);
    if (QString kept = ReadSecret(native); !kept.isEmpty()) {
        return kept;
    }
    const QString secret = NewRpcSecret();
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    const QByteArray line = secret.toLatin1() + '\n';
    const bool written = fd >= 0 && ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, line.constData(), std::size_t(line.size())) == line.size();
    if (!written) {
        error = Why(path);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return written ? secret : QString();
}
