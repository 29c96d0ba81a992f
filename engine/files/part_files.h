#pragma once

struct DownloadRecord;

// Removes the part files of an unfinished download, segment by segment. Only files named as
// part files are ever removed ("....tmp"), whatever a damaged list may say; one that is gone
// already is no error.
void DeletePartFiles(const DownloadRecord& record);
