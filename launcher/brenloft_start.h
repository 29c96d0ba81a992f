#pragma once

#include <QString>

// The program to start when the bus cannot reach Brenloft: `override` (from
// $BRENLOFT_PROGRAM) when set, else the Brenloft executable in `launcherFolder`, else
// "Brenloft" as found on PATH.
QString BrenloftProgram(const QString& override, const QString& launcherFolder);

// Starts that program detached with `commandLine` as its one argument; a program already
// running takes the address over through its single-instance hand-off. Returns why it could
// not be started, or an empty text.
QString StartBrenloft(const QString& commandLine);
