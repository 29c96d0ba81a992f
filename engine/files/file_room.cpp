#include "engine/files/file_room.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <QFileInfo>
#include <algorithm>
#include <cerrno>

#include "core/paths/no_follow_open.h"
#include "core/text/format.h"

namespace {

QString NotEnoughSpace(const QString& path, std::int64_t needed, std::int64_t free,
                       const TextTable& texts) {
    return QString::fromLatin1(kNotEnoughSpace)
        .arg(QFileInfo(path).absolutePath(), FormatSize(Currency::fromBytes(needed), texts),
             FormatSize(Currency::fromBytes(std::max<std::int64_t>(free, 0)), texts));
}

}  // namespace

QString ReserveRoom(const QString& path, std::int64_t size, const TextTable& texts) {
    int error = 0;
    // Made anew when it went missing, as a write would make it: its segments start over.
    const UniqueFd fd = OpenNoFollow(path, O_WRONLY | O_CREAT, 0600, error);
    if (!fd.valid()) {
        return QStringLiteral("cannot write %1: %2").arg(path, OpenErrorText(error));
    }
    struct stat file {};
    struct statvfs disk {};
    if (size <= 0 || ::fstat(fd.get(), &file) != 0 || ::fstatvfs(fd.get(), &disk) != 0) {
        return {};
    }
    // What a resumed download's file holds already needs no room again.
    const std::int64_t needed =
        size - std::min<std::int64_t>(size, std::int64_t(file.st_blocks) * 512);
    const auto free = std::int64_t(disk.f_bavail) * std::int64_t(disk.f_frsize);
    if (needed == 0) {
        return {};
    }
    if (needed > free) {
        return NotEnoughSpace(path, needed, free, texts);
    }
    if (::fallocate(fd.get(), 0, 0, size) == 0) {
        return {};
    }
    error = errno;
    if (error == ENOSPC || error == EDQUOT) {
        // Blocks set aside before the disk ran out are given back.
        if (::ftruncate(fd.get(), file.st_size) != 0) {
            return QStringLiteral("cannot write %1: %2").arg(path, OpenErrorText(errno));
        }
        ::fstatvfs(fd.get(), &disk);
        return NotEnoughSpace(path, needed,
                              std::int64_t(disk.f_bavail) * std::int64_t(disk.f_frsize), texts);
    }
    // A file system without the call: the bytes find their room as they are written.
    return error == EOPNOTSUPP || error == ENOSYS || error == EINTR
               ? QString()
               : QStringLiteral("cannot write %1: %2").arg(path, OpenErrorText(error));
}
