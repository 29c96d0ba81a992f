#pragma once

#include <QString>
#include <QStringList>

// How the launcher was started: by a browser handing it an address on the command line, or
// by a browser starting it as the native-messaging host of the Brenloft extension; or by a
// person at a terminal asking for help or the version, or giving an option it does not know.
enum class LaunchMode { Url, NativeMessaging, Help, Version, BadOption };

constexpr const char* LauncherUsage =
    "usage: VelmoraLauncher URL... | VelmoraLauncher chrome-extension://ID/ | "
    "VelmoraLauncher MANIFEST.json EXTENSION_ID";

// What --help prints after the usage line.
constexpr const char* LauncherHelp =
    "Hands an address to Brenloft: through IEURL of VelmoraProject.Velmora on the session bus,\n"
    "or, without a bus, by starting Brenloft with the address as its command line.\n"
    "\n"
    "  URL...                        the arguments joined with single blanks, as the browser\n"
    "                                quoted them, make the address\n"
    "  chrome-extension://ID/        started by a Chromium-family browser as the native-\n"
    "                                messaging host of the Brenloft extension (stdin/stdout)\n"
    "  MANIFEST.json EXTENSION_ID    the same, started by Firefox\n"
    "  --help                        print this help and end\n"
    "  --version                     print the version and end\n"
    "\n"
    "Exit status: 0 when the address was handed over, 1 when nothing could reach Brenloft,\n"
    "2 on an unknown option.\n";

// Decides from the arguments after the program name. Chromium passes the extension's origin
// "chrome-extension://<id>/" first (Windows builds add "--parent-window=N"); Firefox passes
// exactly two: the absolute path of the host manifest and the extension id. An address a
// browser hands over never looks like either, nor begins with "--" as the options do; those
// are looked at only when no browser started the host.
LaunchMode DetectLaunchMode(const QStringList& arguments);

// The one string the arguments stand for: joined with single blanks, neither trimmed nor
// unquoted, because the browser's quoting is part of what the main program receives.
QString JoinArguments(const QStringList& arguments);
