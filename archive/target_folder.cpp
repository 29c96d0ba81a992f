#include "archive/target_folder.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

#include "archive/member_path.h"

namespace {

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

int OpenFolderAt(int parentFd, const char* name) {
    return ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The system reads a name only up to its first NUL and takes '/', "." and ".." as ways
// elsewhere: a name handed to it here is one whole component that stays where it is. The
// callers pass components SafeMemberPath split; this holds even if one did not.
bool PlainComponent(const QByteArray& name) {
    return !name.isEmpty() && !name.contains('\0') && !name.contains('/') &&
           name != QByteArrayView(".", 1) && name != QByteArrayView("..", 2);
}

QString NotPlainText(const QByteArray& name) {
    return QStringLiteral("%1: not a plain name").arg(VisibleMemberName(QString::fromUtf8(name)));
}

}  // namespace

std::optional<TargetFolder> TargetFolder::open(const QString& path, QString* why) {
    if (path.isEmpty() || !QDir().mkpath(path)) {
        *why = QStringLiteral("cannot create the folder %1").arg(path);
        return std::nullopt;
    }
    UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        *why = QStringLiteral("cannot open the folder %1: %2").arg(path, ErrnoText());
        return std::nullopt;
    }
    return TargetFolder(std::move(fd));
}

UniqueFd TargetFolder::openFolder(const QList<QByteArray>& folders, QString* why) const {
    UniqueFd current(::dup(fd_.get()));
    for (const QByteArray& name : folders) {
        if (!PlainComponent(name)) {
            *why = NotPlainText(name);
            return {};
        }
        if (::mkdirat(current.get(), name.constData(), 0777) != 0 && errno != EEXIST) {
            *why = QStringLiteral("cannot create the folder %1: %2")
                       .arg(QString::fromUtf8(name), ErrnoText());
            return {};
        }
        UniqueFd next(OpenFolderAt(current.get(), name.constData()));
        if (!next.valid()) {
            // ELOOP or ENOTDIR: a link or a file where a folder should be.
            *why =
                QStringLiteral("%1 is not a folder (%2)").arg(QString::fromUtf8(name), ErrnoText());
            return {};
        }
        current = std::move(next);
    }
    return current;
}

quint64 TargetFolder::freeBytes() const {
    struct statvfs info {};
    if (::fstatvfs(fd_.get(), &info) != 0) {
        return 0;
    }
    return quint64(info.f_bavail) * quint64(info.f_frsize);
}

std::optional<struct stat> EntryIn(int folderFd, const QByteArray& name) {
    struct stat info {};
    if (!PlainComponent(name) ||
        ::fstatat(folderFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return info;
}

mode_t CreationMode(quint32 unixMode) {
    return unixMode == 0 ? 0666 : mode_t(unixMode & 0777);
}

PendingFile::PendingFile(int folderFd, mode_t mode, QString* why) : folderFd_(folderFd) {
    // A fixed-length name: the member's own may already be as long as names can be.
    for (int attempt = 0; attempt < 16 && !fd_.valid(); ++attempt) {
        tempName_ =
            ".brenloft-unzip-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        fd_.reset(::openat(folderFd, tempName_.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777));
        if (!fd_.valid() && errno != EEXIST) {
            break;
        }
    }
    if (!fd_.valid()) {
        *why = QStringLiteral("cannot create a file: %1").arg(ErrnoText());
    }
}

PendingFile::~PendingFile() {
    if (fd_.valid() && !committed_) {
        ::unlinkat(folderFd_, tempName_.constData(), 0);
    }
}

bool PendingFile::write(const char* bytes, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd_.get(), bytes, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        length -= size_t(written);
    }
    return true;
}

bool PendingFile::commit(const QByteArray& leaf, time_t modified, QString* why) {
    if (!PlainComponent(leaf)) {
        *why = NotPlainText(leaf);
        return false;
    }
    const struct timespec times[2] = {{modified, 0}, {modified, 0}};
    if (::futimens(fd_.get(), times) != 0 ||
        ::renameat(folderFd_, tempName_.constData(), folderFd_, leaf.constData()) != 0) {
        *why = ErrnoText();
        return false;
    }
    committed_ = true;
    return true;
}
