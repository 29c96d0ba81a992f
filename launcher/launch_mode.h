#pragma once

#include <QString>
#include <QStringList>

// How the launcher was started: by a browser handing it an address on the command line, or
// by a browser starting it as the native-messaging host of the Brenloft extension.
enum class LaunchMode { Url, NativeMessaging };

// Decides from the arguments after the program name. Chromium passes the extension's origin
// "chrome-extension://<id>/" first (Windows builds add "--parent-window=N"); Firefox passes
// exactly two: the absolute path of the host manifest and the extension id. An address a
// browser hands over never looks like either.
LaunchMode DetectLaunchMode(const QStringList& arguments);

// The one string the arguments stand for: joined with single blanks, neither trimmed nor
// unquoted, because the browser's quoting is part of what the main program receives.
QString JoinArguments(const QStringList& arguments);
