#include "core/paths/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include <QFile>

FolderLock::FolderLock(const QString& folder, Wait wait) {
    fd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    const int how = wait == Wait::Yes ? LOCK_EX : LOCK_EX | LOCK_NB;
    int status = 0;
    while ((status = ::flock(fd_, how)) != 0 && errno == EINTR) {
    }
    if (status != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

FolderLock::~FolderLock() {
    // Closing the only descriptor of the folder releases the lock.
    if (fd_ >= 0) {
        ::close(fd_);
    }
}
