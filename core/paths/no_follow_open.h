#pragma once

#include <sys/types.h>

#include <QString>

#include "core/types/unique_fd.h"

// Opens `path` with `flags` (O_NOFOLLOW and O_CLOEXEC added) and `mode` for a file it creates.
// A symbolic link as the last component is refused (ELOOP): the part files, the targets and the
// list are written only where their own names lie, never where a planted link points. An
// invalid descriptor has `error` set to the errno; a text with a NUL in it is ENOENT.
UniqueFd OpenNoFollow(const QString& path, int flags, mode_t mode, int& error);

// The reason an open failed, as a message says it: "it is a symbolic link" for a refused link,
// else the system's text for `error`.
QString OpenErrorText(int error);
