#include "engine/assembly/target_claim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdio>

#include "core/paths/no_follow_open.h"
#include "engine/assembly/target_path.h"

namespace {

// Opens with `flags` into the target's descriptor; returns 0 or the errno of the open.
int TryCreate(ClaimedTarget& target, int flags) {
    int error = 0;
    // O_NONBLOCK: a chosen path that is a pipe without a reader must fail, not hang.
    target.file = OpenNoFollow(target.path, flags | O_WRONLY | O_NONBLOCK, 0666, error);
    return error;
}

// Renames without replacing; 0 or the errno of the attempt.
int RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
    // A file system without it: a hard link refuses an existing name just as well.
    if (::link(from.constData(), to.constData()) != 0) {
        return errno;
    }
    ::unlink(from.constData());
    return 0;
}

// The process's umask, read without changing it (setting it to learn it would race with any
// other thread creating a file); the classic umask() dance only where /proc says nothing.
mode_t CurrentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok) {
                    return static_cast<mode_t>(mask & 0777);
                }
            }
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

}  // namespace

int GiveNewFileMode(const QString& path) {
    const mode_t mode = 0666 & ~CurrentUmask();
    // Through a descriptor: a symbolic link put under the name keeps the mode of what it names.
    int error = 0;
    const UniqueFd fd = OpenNoFollow(path, O_RDONLY | O_NONBLOCK, 0, error);
    if (!fd.valid()) {
        return error;
    }
    return ::fchmod(fd.get(), mode) == 0 ? 0 : errno;
}

ClaimedTarget ClaimTarget(const QString& path, bool mayReplace) {
    ClaimedTarget target;
    for (int n = 0; n <= MaxNumberedNames; ++n) {
        target.path = n == 0 ? path : NumberedName(path, n);
        // O_EXCL refuses an existing file and also a symbolic link, dangling or not, so the
        // check and the creation are one step that no other writer can slip between.
        target.error = TryCreate(target, O_CREAT | O_EXCL);
        if (target.error == 0) {
            target.claimed = target.created = true;
            return target;
        }
        if (n == 0 && mayReplace && target.error == EEXIST) {
            // O_NOFOLLOW: what the user may replace is a file of that name, not the one a
            // symbolic link there points at.
            target.error = TryCreate(target, O_TRUNC);
            if (target.error == 0) {
                target.claimed = true;
                return target;
            }
        }
    }
    return target;
}

ClaimedTarget MoveIntoPlace(const QString& from, const QString& path, bool mayReplace) {
    ClaimedTarget target;
    const QByteArray source = QFile::encodeName(from);
    for (int n = 0; n <= MaxNumberedNames; ++n) {
        target.path = n == 0 ? path : NumberedName(path, n);
        if (target.path.isEmpty() || target.path.contains(QChar(u'\0'))) {
            target.error = ENOENT;
            continue;
        }
        const QByteArray native = QFile::encodeName(target.path);
        if (n == 0 && mayReplace) {
            // A folder of that name cannot be replaced; its numbered names are tried instead.
            target.error = ::rename(source.constData(), native.constData()) == 0 ? 0 : errno;
        } else {
            target.error = RenameNoReplace(source, native);
        }
        if (target.error == 0) {
            target.claimed = true;
            return target;
        }
        if (target.error != EEXIST && target.error != EISDIR) {
            return target;  // the folder itself refuses: another number would not help
        }
    }
    return target;
}
