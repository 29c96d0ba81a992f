#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What Brenloft tells the updater it starts after unpacking an update: where the unpacked
// files are, which program to update and start again, the process to wait for (Brenloft
// itself, which quits right after), and the language of the updater's messages.
struct UpdaterArguments {
    QString packageFolder;
    QString program;
    qint64 waitPid = 0;
    QString language;

    // "--from FOLDER --program PATH --wait-pid PID --language KEY", one list entry each: the
    // updater is started with them as they are, never through a shell.
    QStringList toList() const;
    // The arguments after the program's own name; nothing, with `why` set, when one is missing
    // or unknown.
    static std::optional<UpdaterArguments> fromList(const QStringList& arguments, QString& why);
    // The first name (every other argument) that is none of the four above, or empty.
    static QString unknownName(const QStringList& arguments);
};

constexpr const char* UpdaterUsage =
    "usage: updater --from FOLDER --program PATH --wait-pid PID [--language KEY]";

// What --help prints after the usage line.
constexpr const char* UpdaterHelp =
    "Started by Brenloft after it unpacked a signed update: waits for Brenloft to end, copies\n"
    "the update over an installation in the user's home folder and starts Brenloft again.\n"
    "\n"
    "  --from FOLDER     the folder the update package was unpacked into\n"
    "  --program PATH    the Brenloft program to update and start again\n"
    "  --wait-pid PID    the process to wait for (0: none)\n"
    "  --language KEY    the language of the messages, e.g. francais (default: english)\n"
    "  --help            print this help and end\n"
    "  --version         print the version and end\n"
    "\n"
    "Exit status: 0 when updated; 2 on an unknown option, and also when the package manager\n"
    "updates this installation instead; any other failure is said on stderr.\n";
