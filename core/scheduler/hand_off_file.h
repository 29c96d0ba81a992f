#pragma once

#include <QString>
#include <optional>

// Takes the address a second start of the program left in the hand-off file ("templine.dat"):
// the first line without its double quotes, trimmed and encoded. The file is deleted whatever
// it held; nothing comes back unless the text begins with "http://", "https://" or "ftp://"
// (that case).
std::optional<QString> TakeHandOffUrl(const QString& path);
