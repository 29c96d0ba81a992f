#pragma once

#include <QString>
#include <optional>

// Takes the address a second start of the program left in the hand-off file ("templine.dat"):
// the first line without its double quotes, trimmed and encoded. The file is deleted whatever
// it held; nothing comes back unless the text begins with "http://", "https://" or "ftp://"
// (that case).
std::optional<QString> TakeHandOffUrl(const QString& path);
// The first line as it stands (the file deleted), for a start that handed over more than an
// address; HandOffUrl reads an address from it as TakeHandOffUrl does.
std::optional<QString> TakeHandOffLine(const QString& path);
std::optional<QString> HandOffUrl(QString line);
