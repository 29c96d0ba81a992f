#include "cli/list_reserve.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>

void ListReserve::keep(qint64 bytes) {
    if (kept_ >= bytes) {
        return;
    }
    const QByteArray name = QFile::encodeName(path_);
    // Never through a link planted under the name.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const bool room = ::posix_fallocate(fd, 0, bytes) == 0;
    ::close(fd);
    if (room) {
        kept_ = bytes;
    } else {
        ::unlink(name.constData());
        kept_ = 0;
    }
}

bool ListReserve::release() {
    if (kept_ == 0) {
        return false;
    }
    kept_ = 0;
    return ::unlink(QFile::encodeName(path_).constData()) == 0;
}
