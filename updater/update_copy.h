#pragma once

#include <QString>
#include <functional>

#include "updater/updater_arguments.h"

class TextTable;

// What the updater did, for its exit code and its message to the user.
struct UpdateOutcome {
    enum Code {
        Updated = 0,
        BadArguments = 1,
        SystemWide = 2,    // nothing changed: the package manager updates this installation
        StillRunning = 3,  // nothing changed: the program did not end
        NotCopied = 4,     // nothing changed, or (rarely) some files replaced: `message` says
        NotRestarted = 5,  // updated, but the program could not be started again
    };
    int code = Updated;
    QString message;  // for the user; empty when all went well
};

// What the updater needs of the system, replaceable in tests.
struct UpdaterSystem {
    QString home;  // the user's home folder
    // Waits until the process is gone; false when it is still there at the deadline.
    std::function<bool(qint64 pid)> waitForExit;
    // Starts the updated program without waiting; false when it cannot be started.
    std::function<bool(const QString& program)> start;

    // The real ones: $HOME, /proc, QProcess::startDetached.
    static UpdaterSystem Real();
};

// The folder an installation lives in: the one above "bin" when the program lies in a "bin"
// folder (an installation prefix, as `cmake --install --prefix ~/.local` makes it), else the
// program's own folder. The package holds its files as they lie under that folder
// ("bin/Brenloft", "share/brenloft/lang/english.txt").
QString InstallationFolder(const QString& program);

// Copies the unpacked package over the installation of `arguments.program`, once the process
// `arguments.waitPid` has ended, and starts the program again. Only an installation under the
// user's home folder that the user can write to is touched; any other is left as it is, with
// a message that the system's package manager updates it. Every file is first copied beside
// its target under a temporary name and only then renamed over it, so a failed copy changes
// nothing.
UpdateOutcome RunUpdate(const UpdaterArguments& arguments, const TextTable& texts,
                        const UpdaterSystem& system);
