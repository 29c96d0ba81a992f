#pragma once

#include <QString>
#include <functional>

struct EngineContext;

struct AssemblyResult {
    bool complete = false;  // the target holds every planned byte and the record is completed
    QString message;        // what failed, naming the file and the reason; empty on success
    QString targetPath;     // the file written (or the last name tried)
};

// Joins the part files of the download in `slot`, in segment order, into its target (see
// TargetPath and ClaimTarget), in pieces of 1 MiB with returns to the event loop in between,
// so other downloads and the windows keep running. On success the record is marked completed
// and gets the final SavePath and FileName, the anti-virus command runs, then the end-of-list
// actions -- or, for a program update (IsUpdate 1) where the program can install one, the
// context's installUpdate. With `deleteParts` the part files are removed, but only once the
// target has the planned length. A failure leaves the download incomplete and its part files
// in place, and removes a target file this join created.
//
// `done` is called exactly once, always from the event loop after this call has returned.
void AssembleDownload(EngineContext& ctx, int slot, bool deleteParts,
                      std::function<void(const AssemblyResult&)> done);
