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
};
