#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <vector>

struct DownloadRecord;

// A file brenloft-get finished in an earlier run, as its list remembers it.
struct FinishedFile {
    QString url;  // the record's address
    QString path;
    std::int64_t size = 0;
};

// The "already fetched" check of brenloft-get, run once the server has given the file's name
// and size and before anything is planned: when the download's target (see TargetPath) is a
// file of exactly FileSize bytes that an earlier run finished there for the same address (one
// of `finished`), or whose modification time is the server's `serverModified` to the second,
// the record becomes that finished download (SavePath, 100 %, completed) and true is returned.
// Any other file of that name and size is someone else's: false, and the download goes on into
// a numbered name. Nothing is written to disk either way.
bool AdoptExistingTarget(DownloadRecord& record, const QString& downloadFolder,
                         const std::vector<FinishedFile>& finished,
                         const QDateTime& serverModified);

// A saved plan whose file was built before the list could say so (the program ended between
// the join's rename and the next save): none of the part files with bytes is left (the join
// removes them only once the target holds them all), the target is a file of exactly FileSize
// bytes, and either every segment is stored in full or the target was moved there from the one
// file the segments shared (it carries the download's origin). The record then becomes that
// finished download as above and true is returned; otherwise nothing changes.
bool AdoptJoinedTarget(DownloadRecord& record, const QString& downloadFolder);
