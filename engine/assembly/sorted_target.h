#pragma once

#include <QString>

struct DownloadRecord;
struct Settings;

// The folder of its kind that the entry's file was sorted into, with a trailing "/"; empty:
// the download folder.
QString SortedFolder(const DownloadRecord& record);

// Sorting by kind, run once the file's name is final and before anything is planned. An entry
// with a path of the user's, one already sorted, or sorting switched off keeps its target; any
// other whose name has a listed extension goes to the folder of its kind from now on, made
// when missing. Returns that folder when it could not be made or written: the file then goes to
// the download folder.
QString SortByKind(DownloadRecord& record, const Settings& settings);
