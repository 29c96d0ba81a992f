#pragma once

#include <QString>
#include <QStringList>

// One line of the desktop program's command line, read as one text: an argument, or a line a
// later start handed over.
struct StartCommand {
    bool silent = false;  // start in the tray (or minimised), without showing the main window
    // an http://, https:// or ftp:// address to add, a magnet link or a .torrent file (an
    // absolute path) for the torrent program, or empty
    QString url;
    bool addAddress = false;  // "--add": the "Add address" dialog opens (the desktop action)
    // "--no-restart": should the file change on its server, the download stops instead of
    // asking to start again.
    bool noRestart = false;
    QString unused;  // what is left when it is no address (trimmed, unquoted), or empty
};

// Finds the silent switches ("/silent", "-silent", and " -s " / " /s " with a blank on each
// side) anywhere in the text, removes them, and keeps what is left as a URL when, trimmed and
// without double quotes, it begins with "http://", "https://" or "ftp://" (in
// lower case), or is a link for another program (other_program_link.h).
StartCommand ReadStartCommand(const QString& commandLine);

// The whole command line: every argument, and every line of an argument, is read on its own,
// so several addresses make several downloads and one that is no address spoils no other. A
// browser's quoted line (one argument) stays one address, blanks and all.
struct StartArguments {
    bool silent = false;
    bool addAddress = false;
    bool noRestart = false;  // for every address given
    QStringList urls;        // in the order given
    QStringList rejected;    // what is neither a switch nor an address, as given
    // What a running program is handed, a line each: "--add" when asked, then the addresses,
    // each after "--no-restart " when that was given.
    QStringList handOffLines() const;
};
StartArguments ReadStartArguments(const QStringList& arguments);

constexpr const char* BrenloftUsage =
    "usage: Brenloft [/silent | -silent | -s] [--add] [--no-restart] [--verbose] [URL...]";

// What --help prints after the usage line.
constexpr const char* BrenloftHelp =
    "Starts Brenloft, or hands the line to the Brenloft already running and raises its window.\n"
    "\n"
    "  URL...              http://, https:// or ftp:// addresses to add, each its own download\n"
    "                      (double quotes are dropped); one that is none is reported and\n"
    "                      the others still go; magnet links and .torrent files go to the\n"
    "                      desktop's torrent program\n"
    "  /silent, -silent    start in the tray (or minimised) without showing the main window\n"
    "  -s, /s              the same, with a blank on each side in the line\n"
    "  --add               open the \"Add address\" dialog (in the Brenloft already running)\n"
    "  --no-restart        should a file change on its server while it downloads, stop the\n"
    "                      download with the reason instead of asking to start again\n"
    "  --verbose           log what each download does on stderr\n"
    "  --help              print this help and end\n"
    "  --version           print the version and end\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well. $BRENLOFT_HOME, when set,\n"
    "is the folder of the download list instead of ~/.local/share/Brenloft.\n";

// The first argument that looks like an option of ours ("--" and a name) but is none, or
// empty. The silent switch may be written "--silent" too, since the line is searched for
// "-silent"; anything else after "--" is no address and no switch the program knows.
QString UnknownStartOption(const QStringList& arguments);
