#pragma once

#include <QString>

#include "core/types/unique_fd.h"

// The file an assembly may write, found and created before the first byte is copied.
struct ClaimedTarget {
    QString path;          // the name taken, or the last one tried
    bool claimed = false;  // `path` exists now and may be written
    bool created = false;  // this claim created it, so a failed join may remove it again
    int error = 0;         // errno of the last attempt when nothing could be claimed
    // ClaimTarget: the claimed file, open for writing. The join writes through it rather than
    // opening the name again, so whatever is put under the name after the claim (a symbolic
    // link, another file) is never written.
    UniqueFd file;
};

// Takes `path`, or else the first of its numbered names that can be created. An existing file
// counts as one that cannot be opened: only `mayReplace` (the user confirmed overwriting, or
// fetches the same download again) lets the path itself be replaced, and then it is emptied
// at once so no stale tail survives; a symbolic link there is refused (ELOOP). Numbered names
// are only ever new files.
ClaimedTarget ClaimTarget(const QString& path, bool mayReplace);

// Moves the finished file `from` (on the same file system) to `path`, or else to the first of
// its numbered names that is free, in one step each: no name ever shows a file half-built, and
// an existing file is never replaced unless `mayReplace` allows it for `path` itself, and then
// in one rename. `created` is false: nothing needs removing after a failure.
ClaimedTarget MoveIntoPlace(const QString& from, const QString& path, bool mayReplace);

// Gives a finished file the mode any new file of the user gets (0666 less the umask): it was
// built in a part file, which is private. 0 or the errno of the change.
int GiveNewFileMode(const QString& path);
