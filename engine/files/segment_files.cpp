#include "engine/files/segment_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include "core/paths/no_follow_open.h"

namespace {

// Size of the bounce buffer when the kernel cannot copy between the two files itself; the same
// as the assembly's piece size, so one piece is one read and one write.
constexpr std::int64_t CopyBufferSize = 1 << 20;

// Writes all of `count` bytes at `offset`; returns how many were written, `error` set when it
// stopped early.
std::int64_t WriteAll(int fd, const char* data, std::int64_t count, std::int64_t offset,
                      int& error) {
    std::int64_t written = 0;
    while (written < count) {
        const ssize_t n = ::pwrite(fd, data + written, static_cast<std::size_t>(count - written),
                                   static_cast<off_t>(offset + written));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        if (n == 0) {
            // No progress and no reason given: treat as the disk being full rather than spin.
            error = ENOSPC;
            break;
        }
        written += n;
    }
    return written;
}

// Reads until `count` bytes or the end of the file; returns how many were read, `error` set on a
// failure.
std::int64_t ReadUpTo(int fd, char* buffer, std::int64_t count, std::int64_t offset, int& error) {
    std::int64_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, buffer + got, static_cast<std::size_t>(count - got),
                                  static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    return got;
}

// copy_file_range refuses some pairs of files (other file systems, old kernels, special files)
// that an ordinary read and write handle fine.
bool KernelCopyUnsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

}  // namespace

std::int32_t SegmentFiles::VelmoraOpenFile(const QString& path, std::int32_t mode) {
    int flags = 0;
    if (mode == ModeWrite) {
        flags = O_WRONLY | O_CREAT;
    } else if (mode == ModeRead) {
        flags = O_RDONLY;
    } else {
        lastOpenErrno_ = EINVAL;
        return 0;
    }
    UniqueFd fd = OpenNoFollow(path, flags, 0644, lastOpenErrno_);
    return fd.valid() ? VelmoraAdoptFile(std::move(fd)) : 0;
}

std::int32_t SegmentFiles::VelmoraAdoptFile(UniqueFd fd) {
    if (!fd.valid()) {
        lastOpenErrno_ = EBADF;
        return 0;
    }
    lastOpenErrno_ = 0;
    const std::int32_t handle = nextFreeHandle();
    files_.emplace(handle, OpenFile{std::move(fd), 0, 0});
    return handle;
}

void SegmentFiles::VelmoraSeekFile(std::int32_t handle, Currency position, std::int32_t origin) {
    OpenFile* file = find(handle);
    if (file == nullptr) {
        return;
    }
    std::int64_t base = 0;
    if (origin == OriginCurrent) {
        base = file->position;
    } else if (origin == OriginEnd) {
        struct stat st {};
        if (::fstat(file->fd.get(), &st) != 0) {
            file->lastErrno = errno;
            return;
        }
        base = st.st_size;
    } else if (origin != OriginStart) {
        file->lastErrno = EINVAL;
        return;
    }
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, position.bytes(), &target) || target < 0) {
        file->lastErrno = EINVAL;
        return;
    }
    file->position = target;
    file->lastErrno = 0;
}

std::int64_t SegmentFiles::VelmoraWriteFile(std::int32_t handle, const char* data,
                                            std::int32_t count) {
    OpenFile* file = find(handle);
    if (file == nullptr) {
        return -1;
    }
    if (count < 0 || (count > 0 && data == nullptr)) {
        file->lastErrno = EINVAL;
        return -1;
    }
    int error = 0;
    const std::int64_t written = WriteAll(file->fd.get(), data, count, file->position, error);
    file->position += written;
    file->lastErrno = error;
    file->unflushed = file->unflushed || written > 0;
    return (error != 0 && written == 0) ? -1 : written;
}

std::int64_t SegmentFiles::VelmoraReadWrite(std::int32_t source, std::int32_t destination,
                                            std::int32_t count) {
    OpenFile* from = find(source);
    OpenFile* to = find(destination);
    if (from == nullptr || to == nullptr) {
        return -1;
    }
    if (count < 0 || from == to) {
        from->lastErrno = to->lastErrno = EINVAL;
        return -1;
    }
    std::int64_t copied = 0;
    int error = 0;
    bool kernelCopy = true;
    while (copied < count && error == 0) {
        if (!kernelCopy) {
            copied += copyThroughBuffer(*from, *to, count - copied, error);
            break;
        }
        loff_t in = from->position;
        loff_t out = to->position;
        const ssize_t n = ::copy_file_range(from->fd.get(), &in, to->fd.get(), &out,
                                            static_cast<std::size_t>(count - copied), 0);
        if (n > 0) {
            from->position += n;
            to->position += n;
            copied += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && !KernelCopyUnsupported(errno)) {
            error = errno;
            break;
        }
        // 0 is either the end of the source or a file system (procfs, some FUSE) declining to
        // copy a file whose size it reports as 0: a plain read tells the two apart.
        kernelCopy = false;
    }
    from->lastErrno = to->lastErrno = error;
    to->unflushed = to->unflushed || copied > 0;
    return (error != 0 && copied == 0) ? -1 : copied;
}

std::int64_t SegmentFiles::copyThroughBuffer(OpenFile& source, OpenFile& destination,
                                             std::int64_t count, int& error) {
    std::vector<char> buffer(static_cast<std::size_t>(std::min(count, CopyBufferSize)));
    std::int64_t copied = 0;
    while (copied < count) {
        const std::int64_t want =
            std::min<std::int64_t>(count - copied, static_cast<std::int64_t>(buffer.size()));
        const std::int64_t got =
            ReadUpTo(source.fd.get(), buffer.data(), want, source.position, error);
        // Only what reached the destination counts as copied; the source advances as far.
        const std::int64_t put =
            WriteAll(destination.fd.get(), buffer.data(), got, destination.position, error);
        source.position += put;
        destination.position += put;
        copied += put;
        if (error != 0 || got < want) {
            break;
        }
    }
    return copied;
}

std::int64_t SegmentFiles::VelmoraReadFile(std::int32_t handle, char* buffer, std::int32_t count) {
    OpenFile* file = find(handle);
    if (file == nullptr) {
        return -1;
    }
    if (count < 0 || (count > 0 && buffer == nullptr)) {
        file->lastErrno = EINVAL;
        return -1;
    }
    int error = 0;
    const std::int64_t got = ReadUpTo(file->fd.get(), buffer, count, file->position, error);
    file->position += got;
    file->lastErrno = error;
    return (error != 0 && got == 0) ? -1 : got;
}

bool SegmentFiles::VelmoraFlushFile(std::int32_t handle) {
    OpenFile* file = find(handle);
    if (file == nullptr || !file->unflushed) {
        return file != nullptr;
    }
    // Only the data and the size: the file's times need not survive a power cut.
    if (::fdatasync(file->fd.get()) != 0) {
        file->lastErrno = errno;
        return false;
    }
    file->unflushed = false;
    file->lastErrno = 0;
    ++flushCount_;
    return true;
}

bool SegmentFiles::VelmoraFlushAll() {
    bool flushed = true;
    for (const auto& entry : files_) {
        flushed = VelmoraFlushFile(entry.first) && flushed;
    }
    return flushed;
}

void SegmentFiles::VelmoraCloseFile(std::int32_t handle) {
    files_.erase(handle);
}

void SegmentFiles::VelmoraCloseAll() {
    files_.clear();
}

int SegmentFiles::lastErrno(std::int32_t handle) const {
    const auto it = files_.find(handle);
    return it == files_.end() ? EBADF : it->second.lastErrno;
}

SegmentFiles::OpenFile* SegmentFiles::find(std::int32_t handle) {
    const auto it = files_.find(handle);
    return it == files_.end() ? nullptr : &it->second;
}

std::int32_t SegmentFiles::nextFreeHandle() {
    auto advance = [this] {
        nextHandle_ = nextHandle_ == std::numeric_limits<std::int32_t>::max() ? 1 : nextHandle_ + 1;
    };
    while (files_.count(nextHandle_) != 0) {
        advance();
    }
    const std::int32_t handle = nextHandle_;
    advance();
    return handle;
}
