#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>

class Sandbox;

// brenloft-get run as a script runs it, with a home of the sandbox's own so nothing of the
// user's is read or written. The sandbox needs a "home" folder.
struct GetRun {
    int exitCode = -1;  // -1 when it did not end by itself
    bool finished = false;
    QStringList out;
    QStringList err;
};

// Standard output or error as lines, empty ones left out.
QStringList OutputLines(const QByteArray& output);
// Sets the environment and working folder of a run without starting it.
void PrepareGet(QProcess& process, const Sandbox& box, const QString& workingFolder);
// Starts the command as prepared; false when it cannot be started.
bool StartGet(QProcess& process, const QStringList& arguments);
// A quiet run of eight segments into `folder`: the arguments the crash and disk tests repeat.
QStringList EightSegmentsInto(const QString& folder, const QString& url);
// Where brenloft-get keeps its list for downloads into `folder`.
QString ListPathIn(const QString& folder);
// One whole run. The deadline bounds a hang; it is no measure of speed. `input`, when given,
// is its standard input; `variables` ("NAME=VALUE") are added to its environment.
GetRun RunGet(const Sandbox& box, const QStringList& arguments, const QString& workingFolder,
              std::chrono::milliseconds deadline = std::chrono::seconds(120),
              const QByteArray& input = {}, const QStringList& variables = {});
