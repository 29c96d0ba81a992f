#pragma once

#include <QString>

struct DownloadRecord;
struct DownloadListState;

// brenloft-get's work folder (DIR/.brenloft-get and its temp/) may lie in a folder others can
// write to, or arrive inside an archive: it is made with mode 0700, and one that exists is used
// only when it is a real folder (not a symbolic link), owned by the user and writable by no
// one else. Returns empty when the folder can be used, else "PATH is a symbolic link" and the
// like.
QString PrepareWorkFolder(const QString& path);

// Why a list entry must not be acted on, or empty: each of its part files lies directly in
// `tempFolder`, and its save path, if it has one, in `folder` or below it. Symbolic links in
// the folders are resolved before comparing; a ".." anywhere refuses the entry.
QString ListEntryProblem(const DownloadRecord& record, const QString& folder,
                         const QString& tempFolder);

// Empties every active entry of `list` that ListEntryProblem refuses, and returns one line for
// each: which entry and why.
QStringList DropUnsafeEntries(DownloadListState& list, const QString& folder,
                              const QString& tempFolder);
