#pragma once

#include <QString>
#include <QStringList>

class CompletionActions;
struct Settings;

// The anti-virus command line for `target`: the user's command split into program and
// arguments as a shell would quote them, but never run by a shell. Every "%F" inside an
// argument becomes the target path, as part of that same argument; without any "%F" the path
// is the last argument. The first element is the program; empty for an empty command.
QStringList AntivirusArguments(const QString& command, const QString& target);

// `word` written so that AntivirusArguments reads it back as one word: quoted when it holds a
// blank or a quote, as a program chosen in a file dialog may.
QString CommandWord(const QString& word);

// Starts the anti-virus command on `target` when the options ask for it; a command that
// cannot be started is ignored.
void RunAntivirus(const Settings& settings, CompletionActions& actions, const QString& target);
