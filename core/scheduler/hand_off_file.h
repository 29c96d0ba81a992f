#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "core/paths/folder_lock.h"

// The address in a line handed over by a later start: without its double quotes, trimmed and
// encoded; nothing unless it begins with "http://", "https://" or "ftp://" (that case). A magnet
// link or a local .torrent file comes as it is, unencoded.
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
