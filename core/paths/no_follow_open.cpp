#include "core/paths/no_follow_open.h"

#include <fcntl.h>

#include <QFile>
#include <cerrno>
#include <cstring>

UniqueFd OpenNoFollow(const QString& path, int flags, mode_t mode, int& error) {
    // A NUL inside the text would silently cut the path short and open another file.
    if (path.isEmpty() || path.contains(QChar(u'\0'))) {
        error = ENOENT;
        return UniqueFd();
    }
    const QByteArray native = QFile::encodeName(path);
    int fd = -1;
    do {
        fd = ::open(native.constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    error = fd < 0 ? errno : 0;
    return UniqueFd(fd);
}

QString OpenErrorText(int error) {
    if (error == ELOOP) {
        return QStringLiteral("it is a symbolic link");
    }
    return QString::fromLocal8Bit(std::strerror(error));
}
