#pragma once

#include <QString>

struct DownloadRecord;
struct DownloadListState;

// Removes the part files of an unfinished download, segment by segment. Only files named as
// part files are ever removed ("....tmp"), whatever a damaged list may say; one that is gone
// already is no error.
void DeletePartFiles(const DownloadRecord& record);

// Removes the files directly in `tempFolder` that have the names this program gives part files
// ("<name><nnn>.tmp") and that no slot of `list` names: parts of entries that left the list in
// an older version, or whose list was not saved. Nothing else there, and nothing below it, is
// touched. Returns how many were removed.
int DeleteUnnamedPartFiles(const DownloadListState& list, const QString& tempFolder);
