#pragma once

#include <QDateTime>
#include <QString>

struct DownloadRecord;

// The "already fetched" check of brenloft-get, run once the server has given the file's name
// and size and before anything is planned: when the download's target (see TargetPath) is a
// file of exactly FileSize bytes, the record becomes that finished download (SavePath, 100 %,
// completed) and true is returned. Only a file last changed before `olderThan` counts (an
// invalid time: none). Otherwise nothing changes. Nothing is written to disk either way.
bool AdoptExistingTarget(DownloadRecord& record, const QString& downloadFolder,
                         const QDateTime& olderThan);
