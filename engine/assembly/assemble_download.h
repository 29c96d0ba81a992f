#pragma once

#include <QString>
#include <cstdint>
#include <functional>

struct EngineContext;
struct DownloadRecord;

struct AssemblyResult {
    bool complete = false;   // the target holds every byte asked for and the record is completed
    QString message;         // what failed, naming the file and the reason; empty on success
    QString targetPath;      // the file written (or the last name tried)
    std::int64_t built = 0;  // bytes in the target when complete
};

// What a download's part files hold: the bytes from its first up to the first one missing
// (each part counts up to its segment's length), and all the bytes it plans.
struct ReceivedBytes {
    std::int64_t inOrder = 0;
    std::int64_t planned = 0;
    bool whole() const { return inOrder == planned; }
};
ReceivedBytes ReceivedInOrder(const DownloadRecord& record);

// Joins the part files of the download in `slot`, in segment order, into its target (see
// TargetPath and ClaimTarget), in pieces of 1 MiB with returns to the event loop in between,
// so other downloads and the windows keep running. On success the record is marked completed
// and gets the final SavePath and FileName, the anti-virus command runs, then the end-of-list
// actions -- or, for a program update (IsUpdate 1) where the program can install one, the
// context's installUpdate. With `deleteParts` the part files are removed, but only once the
// target has the planned length. A failure leaves the download incomplete and its part files
// in place, and removes a target file this join created.
//
// With `upTo` at 0 or more only that many bytes from the start are joined: a forced build of a
// download that is not whole, from what ReceivedInOrder found. The entry is finished all the
// same, and with `deleteParts` every one of its part files goes, not only those joined.
//
// `done` is called exactly once, always from the event loop after this call has returned.
void AssembleDownload(EngineContext& ctx, int slot, bool deleteParts,
                      std::function<void(const AssemblyResult&)> done, std::int64_t upTo = -1);
