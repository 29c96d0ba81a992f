#include "cli/work_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/format.h"
#include "core/urls/parse_url.h"

namespace {

// The folder a path names with every symbolic link resolved, or empty when it does not exist.
QString RealFolder(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() ? info.canonicalFilePath() : QString();
}

bool HasDotDot(const QString& path) {
    return path.split(u'/').contains(QStringLiteral(".."));
}

// `path`'s folder part, resolved, is `folder` itself (or, with `below`, lies under it too).
bool InFolder(const QString& path, const QString& realFolder, bool below) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || HasDotDot(path) || realFolder.isEmpty()) {
        return false;
    }
    const QFileInfo file(QDir::cleanPath(path));
    const QString name = file.fileName();
    const QString parent = RealFolder(file.path());
    if (name.isEmpty() || name == u"." || parent.isEmpty()) {
        return false;
    }
    return parent == realFolder || (below && parent.startsWith(realFolder + u'/'));
}

}  // namespace

QString PrepareWorkFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        return QStringLiteral("cannot create %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        return QStringLiteral("cannot read %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (S_ISLNK(st.st_mode)) {
        return QStringLiteral("%1 is a symbolic link").arg(path);
    }
    if (!S_ISDIR(st.st_mode)) {
        return QStringLiteral("%1 is not a folder").arg(path);
    }
    if (st.st_uid != ::geteuid()) {
        return QStringLiteral("%1 is not owned by you").arg(path);
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        // Folders made under a umask of 002 land here too: say how to keep using one.
        return QStringLiteral("%1 is writable by others (if you made it: chmod 700 %1)").arg(path);
    }
    return QString();
}

QString ListEntryProblem(const DownloadRecord& record, const QString& folder,
                         const QString& tempFolder) {
    const QString realTemp = RealFolder(tempFolder);
    for (int j = 1; j <= record.SegmentCount; ++j) {
        const SegmentRecord* s = record.Segments.at(j);
        if (s != nullptr && !s->PartFile.isEmpty() && !InFolder(s->PartFile, realTemp, false)) {
            return QStringLiteral("part file %1 is not in %2").arg(s->PartFile, tempFolder);
        }
    }
    if (!record.SavePath.isEmpty() && !InFolder(record.SavePath, RealFolder(folder), true)) {
        return QStringLiteral("save path %1 is not in %2").arg(record.SavePath, folder);
    }
    return QString();
}

QStringList DropUnsafeEntries(DownloadListState& list, const QString& folder,
                              const QString& tempFolder) {
    QStringList dropped;
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        DownloadRecord& r = list.DownloadList[slot];
        if (!Listed(r)) {
            continue;
        }
        const QString why = ListEntryProblem(r, folder, tempFolder);
        if (!why.isEmpty()) {
            dropped << EscapeControls(QStringLiteral("list entry %1 (%2) dropped: %3")
                                          .arg(slot)
                                          .arg(UrlForDisplay(r.Url), why));
            // An empty slot: nothing of it is read, written or removed, and the next save
            // forgets it.
            r = DownloadRecord{};
        }
    }
    return dropped;
}
