#pragma once

#include <QString>

// The desktop program's command line, read as one text.
struct StartCommand {
    bool silent = false;  // start in the tray (or minimised), without showing the main window
    QString url;          // an http://, https:// or ftp:// address to add, or empty
};

// Finds the silent switches ("/silent", "-silent", and " -s " / " /s " with a blank on each
// side) anywhere in the text, removes them, and keeps what is left as a URL when, trimmed and
// without double quotes, it begins with "http://", "https://" or "ftp://" (in
// lower case).
StartCommand ReadStartCommand(const QString& commandLine);
