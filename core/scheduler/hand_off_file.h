#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "core/paths/folder_lock.h"

// Takes the address a second start of the program left in the hand-off file ("templine.dat"):
// the first line without its double quotes, trimmed and encoded. The file is deleted whatever
// it held; nothing comes back unless the text begins with "http://", "https://" or "ftp://"
// (that case).
std::optional<QString> TakeHandOffUrl(const QString& path);
std::optional<QString> HandOffUrl(QString line);

// Second starts and the running program take turns at the hand-off file under a FolderLock on
// the folder that holds it.
using HandOffLock = FolderLock;

// With the lock held: adds the lines at the end of the file, each ending with a carriage return
// and a line feed; what earlier starts left there stays. Why it failed, or empty.
QString AppendHandOffLines(const QString& path, const QStringList& lines);
// With the lock held: every line the file holds, in order and without blank ones, or nothing
// when there is no file; the file is removed, so each line is taken once.
std::optional<QStringList> TakeHandOffLines(const QString& path);
