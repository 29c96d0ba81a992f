#pragma once

#include <QString>
#include <cstdint>
#include <map>

#include "core/types/currency.h"
#include "core/types/unique_fd.h"

// The part-file and output-file component: numbered handles over POSIX file descriptors, each
// with its own position, so that the download code keeps the handle-and-seek style it was
// written in. Nothing is buffered here: every write reaches the kernel before the call returns,
// so a closed (or even still open) file can be read back at once by another handle.
//
// Handles are small positive integers, never reused while open; 0 means "no file". A call on an
// unknown handle does nothing (or returns -1).
class SegmentFiles {
public:
    static constexpr std::int32_t ModeWrite = 0;  // create if missing, keep contents
    static constexpr std::int32_t ModeRead = 1;   // existing file only

    static constexpr std::int32_t OriginStart = 0;
    static constexpr std::int32_t OriginCurrent = 1;
    static constexpr std::int32_t OriginEnd = 2;

    SegmentFiles() = default;
    SegmentFiles(const SegmentFiles&) = delete;
    SegmentFiles& operator=(const SegmentFiles&) = delete;
    ~SegmentFiles() = default;  // the descriptors close with their entries

    // Returns a handle > 0, or 0 when the file cannot be opened (or the mode is unknown). A
    // symbolic link at `path` is refused (lastOpenErrno ELOOP), never written through.
    std::int32_t VelmoraOpenFile(const QString& path, std::int32_t mode);

    // A handle for a descriptor opened elsewhere (the target its claim created), which it now
    // owns; 0 for an invalid one.
    std::int32_t VelmoraAdoptFile(UniqueFd fd);

    // Sets the position of the next read or write. `position` is a byte offset times 10000.
    // A resulting negative offset leaves the position unchanged (lastErrno EINVAL).
    void VelmoraSeekFile(std::int32_t handle, Currency position, std::int32_t origin = OriginStart);

    // Writes all `count` bytes at the current position and advances past what was written.
    // Returns the bytes written; fewer than `count` when the disk filled up part way (lastErrno
    // tells why), -1 when nothing could be written.
    std::int64_t VelmoraWriteFile(std::int32_t handle, const char* data, std::int32_t count);

    // Copies `count` bytes from the source's position to the destination's position, advancing
    // both. Returns the bytes copied: fewer when the source ends early, -1 when nothing could be
    // copied because of an error. An error is remembered on both handles.
    std::int64_t VelmoraReadWrite(std::int32_t source, std::int32_t destination,
                                  std::int32_t count);

    // Reads up to `count` bytes at the current position and advances. Returns the bytes read
    // (0 at the end of the file), -1 on an error.
    std::int64_t VelmoraReadFile(std::int32_t handle, char* buffer, std::int32_t count);

    // Puts what was written through `handle` since its last flush on the disk (fdatasync), so
    // that it outlives a power cut. True when there was nothing to flush or it reached the disk;
    // false with lastErrno set when the disk refused it.
    bool VelmoraFlushFile(std::int32_t handle);
    // VelmoraFlushFile on every open file; false when any failed.
    bool VelmoraFlushAll();
    // Files put on the disk so far by the two calls above.
    std::uint64_t flushCount() const { return flushCount_; }

    void VelmoraCloseFile(std::int32_t handle);
    void VelmoraCloseAll();

    // The errno of the last call on `handle` (0 when it succeeded), so that callers can tell a
    // full disk (ENOSPC) from other failures. EBADF for a handle that is not open.
    int lastErrno(std::int32_t handle) const;

    // The errno of the last failed VelmoraOpenFile (0 after a successful one).
    int lastOpenErrno() const { return lastOpenErrno_; }

    // Number of handles currently open.
    std::size_t openCount() const { return files_.size(); }

private:
    struct OpenFile {
        UniqueFd fd;
        std::int64_t position = 0;
        int lastErrno = 0;
        bool unflushed = false;  // written since its last flush
    };

    OpenFile* find(std::int32_t handle);
    std::int32_t nextFreeHandle();
    std::int64_t copyThroughBuffer(OpenFile& source, OpenFile& destination, std::int64_t count,
                                   int& error);

    std::map<std::int32_t, OpenFile> files_;
    std::int32_t nextHandle_ = 1;
    int lastOpenErrno_ = 0;
    std::uint64_t flushCount_ = 0;
};
