#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <ctime>
#include <optional>

#include "core/types/unique_fd.h"

// The folder an archive is extracted into. Everything below it is reached relative to its
// descriptor, one component at a time, never following a link: a link planted in the folder
// (or made by an earlier member) cannot lead a write outside it.
class TargetFolder {
public:
    // Creates the folder when missing (the user chose it, so links in its own path count).
    static std::optional<TargetFolder> open(const QString& path, QString* why);

    // Opens the folder chain below the target, creating what is missing.
    UniqueFd openFolder(const QList<QByteArray>& folders, QString* why) const;
    quint64 freeBytes() const;
    int fd() const { return fd_.get(); }

private:
    explicit TargetFolder(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

// What a folder holds under `name`, links not followed; nullopt when nothing.
std::optional<struct stat> EntryIn(int folderFd, const QByteArray& name);

// The mode a member's file is created with, the umask then taking its share: the archive's
// read, write and execute bits (its Unix mode, 0 when it kept none: then read and write for
// all), never set-user-id, set-group-id or sticky.
mode_t CreationMode(quint32 unixMode);

// A member being written: a file under a temporary name in its folder, removed when
// destroyed unless it has been given its own name.
class PendingFile {
public:
    // Created with `mode` (only its rwx bits) as the system applies the umask to it; nothing
    // widens it later.
    PendingFile(int folderFd, mode_t mode, QString* why);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    bool valid() const { return fd_.valid(); }
    // Writes all of `bytes`; false with errno kept for the caller.
    bool write(const char* bytes, size_t length);
    // Sets the time, then renames the file to `leaf`, replacing what was there.
    bool commit(const QByteArray& leaf, time_t modified, QString* why);

private:
    int folderFd_;
    QByteArray tempName_;
    UniqueFd fd_;
    bool committed_ = false;
};
