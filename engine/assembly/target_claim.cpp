#include "engine/assembly/target_claim.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

#include "engine/assembly/target_path.h"

namespace {

// Opens with `flags` and closes again; returns 0 or the errno of the open.
int TryCreate(const QString& path, int flags) {
    if (path.isEmpty() || path.contains(QChar(u'\0'))) {
        return ENOENT;
    }
    const QByteArray native = QFile::encodeName(path);
    int fd = -1;
    do {
        // O_NONBLOCK: a chosen path that is a pipe without a reader must fail, not hang.
        fd = ::open(native.constData(), flags | O_WRONLY | O_CLOEXEC | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

}  // namespace

ClaimedTarget ClaimTarget(const QString& path, bool mayReplace) {
    ClaimedTarget target;
    for (int n = 0; n <= MaxNumberedNames; ++n) {
        target.path = n == 0 ? path : NumberedName(path, n);
        // O_EXCL refuses an existing file and also a symbolic link, dangling or not, so the
        // check and the creation are one step that no other writer can slip between.
        target.error = TryCreate(target.path, O_CREAT | O_EXCL);
        if (target.error == 0) {
            target.claimed = target.created = true;
            return target;
        }
        if (n == 0 && mayReplace && target.error == EEXIST) {
            target.error = TryCreate(target.path, O_TRUNC);
            if (target.error == 0) {
                target.claimed = true;
                return target;
            }
        }
    }
    return target;
}
