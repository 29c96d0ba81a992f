#pragma once

#include <QByteArray>
#include <QString>

// What the update server's version file says: its first line is the newest version, the rest
// free text for the user.
struct VersionFile {
    bool hasVersion = false;  // the first line is a plain decimal number
    QString version;          // that line as the server wrote it ("1.5")
    QString digits;           // the version without its point ("15"), for the package's name
    bool newer = false;       // greater than the running program's version
    QString notes;            // plain text, cut to MaxNotesCharacters
};

// The running program's version.
inline constexpr int ProgramVersion = 1;
// Notes longer than this (or of more lines than MaxNotesLines) are cut, with an ellipsis.
inline constexpr int MaxNotesCharacters = 1500;
inline constexpr int MaxNotesLines = 25;

// Reads the body of the version file. The first line ends at the first LF (a CR before it and
// blanks around it do not count); only digits with at most one point between digits make a
// version, so "1\r\n2 fixes" is version 1 and "1.5 beta", "1,5" or "v2" is none. The number is
// compared as written, never through a binary fraction. The notes keep their line breaks and
// tabs and lose every other control character; invalid UTF-8 reads as Latin-1.
VersionFile ReadVersionFile(const QByteArray& body);
