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

// A saved plan whose file was built before the list could say so (the program ended between
// the join's rename and the next save): every segment is stored in full, none of the part
// files with bytes is left (the join removes them only once the target holds them all), and the
// target is a file of exactly FileSize bytes. The record then becomes that finished download
// as above and true is returned; otherwise nothing changes.
bool AdoptJoinedTarget(DownloadRecord& record, const QString& downloadFolder);
