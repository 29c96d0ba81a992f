#include "core/download_list/download_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "core/download_list/entry_state.h"
#include "core/download_list/list_file_format.h"
#include "core/paths/no_follow_open.h"
#include "core/types/tick.h"

namespace {

QString ErrnoText(const char* what, const QString& path) {
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno)));
}

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

void SyncFolderOf(const QString& path) {
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

ListLoadResult LoadList(DownloadListState& list, const QString& path) {
    ListLoadResult result;
    list = DownloadListState{};
    int error = 0;
    UniqueFd fd = OpenNoFollow(path, O_RDONLY, 0, error);
    if (!fd.valid() && error == ENOENT) {
        // A first start: an empty file, like any other list that is not recognised.
        fd = OpenNoFollow(path, O_WRONLY | O_CREAT | O_EXCL, 0600, error);
        if (!fd.valid()) {
            result.error = QStringLiteral("cannot create %1: %2").arg(path, OpenErrorText(error));
        }
    } else if (!fd.valid()) {
        result.error = QStringLiteral("cannot read %1: %2").arg(path, OpenErrorText(error));
    } else {
        QFile file;
        // The descriptor stays fd's to close.
        if (file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            const QByteArray bytes = file.readAll();
            if (file.error() == QFileDevice::NoError) {
                result = DecodeListFile(bytes, list);
            }
        }
        if (file.error() != QFileDevice::NoError) {
            result.error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        }
    }

    FixUpAfterLoad(list, MillisecondTick(), OleDate::now());
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        SettleAfterLoad(list.DownloadList[slot]);
    }
    return result;
}

void FixUpAfterLoad(DownloadListState& list, std::int32_t tick, OleDate now) {
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        DownloadRecord& r = list.DownloadList[slot];
        if (Listed(r)) {
            continue;
        }
        ClearFreeSlot(r);
        r.Segments.erase();
        r.SegmentCount = 0;
        r.SiteLogins.erase();
        r.Reserved1 = 0;
        r.FileName.clear();
        r.UrlPath.clear();
        r.HostName.clear();
        r.Port = 0;
        r.UserName.clear();
        r.Password.clear();
        r.Reserved2 = QStringLiteral("0");
        r.Reserved5.clear();  // a browser's cookies, of no use once the entry is gone
        r.Reserved3 = 0;
        r.SavePath.clear();
        r.HasSavePath = 0;
        r.LastTick = tick;
        r.BytesDone = Currency{};
        r.ElapsedSeconds = 0;
        r.RemainingSeconds = 0;
        r.Protocol = 0;
        r.DateAdded = now;
    }
}

QString SaveList(const DownloadListState& list, const QString& path) {
    return SaveEncodedList(EncodeListFile(list), path);
}

QString SaveEncodedList(const QByteArray& bytes, const QString& path) {
    const QString temporary = path + QStringLiteral(".new");
    const QByteArray tmpName = QFile::encodeName(temporary);
    // Never through a link planted under the name: the list holds passwords.
    const int fd =
        ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return QStringLiteral("cannot create %1: %2").arg(temporary, OpenErrorText(errno));
    }
    // A leftover file from an interrupted save keeps its old mode bits; set them anew.
    ::fchmod(fd, 0600);
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) {
        const QString why = ErrnoText("cannot write", temporary);
        ::close(fd);
        ::unlink(tmpName.constData());
        return why;
    }
    if (::close(fd) != 0) {
        const QString why = ErrnoText("cannot write", temporary);
        ::unlink(tmpName.constData());
        return why;
    }
    if (::rename(tmpName.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString why = ErrnoText("cannot replace", path);
        ::unlink(tmpName.constData());
        return why;
    }
    SyncFolderOf(path);
    return {};
}
