#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "core/download_list/entry_state.h"

struct DownloadRecord;

// aria2's status word for a state of the list: "active", "waiting" (for the queue or its
// time), "paused" (waits for the user), "error", "complete", "removed"; empty for a free slot.
QString Aria2Status(ListEntryState state);

// aria2's error number for a failure code the list keeps (3 not found, 6 a network problem,
// 19 a host name that does not resolve, 24 a login refused, 1 anything else).
int Aria2ErrorCode(std::int16_t failureCode);

// The addresses of the entry as getUris gives them: one, "used" once it was asked.
QJsonArray EntryUris(const DownloadRecord& r);

// The entry's one file as getFiles gives it; `downloadFolder` places a file that has no path
// of its own yet.
QJsonArray EntryFiles(const DownloadRecord& r, const QString& downloadFolder);

// Everything tellStatus tells of the entry, each number as a string as aria2 sends them.
QJsonObject EntryStatus(const DownloadRecord& r, const QString& gid, const QString& downloadFolder);

// Only the keys asked for (all when none are).
QJsonObject KeepKeys(const QJsonObject& status, const QStringList& keys);
