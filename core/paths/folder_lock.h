#pragma once

#include <QString>

// An exclusive lock on a folder (flock on the folder itself), held while the object lives. The
// folder, not a file in it: a reader that removes a file would leave a writer waiting on the
// removed file's lock, appending to a file no one reads again.
class FolderLock {
public:
    enum class Wait { Yes, No };
    FolderLock(const QString& folder, Wait wait);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
