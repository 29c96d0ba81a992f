#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QMimeData;

// Text that holds one address a line: what a user pastes into the add dialog, a list file to
// import. Each line is a download of its own and is judged on its own.

struct RefusedLine {
    QString line;  // as written, trimmed
    QString why;   // in plain words
};

struct AddressLines {
    QStringList usable;          // trimmed, in order
    QList<RefusedLine> refused;  // in order; blank lines are neither
};

// Splits at any line break (LF, CR LF or CR). A line is usable when adding can take it: an
// http://, https:// or ftp:// address (scheme in any letter case) with a server name and a
// path, or a magnet link or a local .torrent file, which adding hands to the torrent program.
AddressLines CheckAddressLines(const QString& text);

// The lines of a text file of addresses, read whole (UTF-8). False with `error` set when it
// cannot be read or is too large to be a list of addresses.
bool ReadAddressFile(const QString& path, AddressLines& lines, QString& error);

// Every address a drop brings: the lines of dropped local files (a file manager's
// text/uri-list), else the addresses in its text, else those of its link list.
QStringList DroppedAddresses(const QMimeData& data);
