#pragma once

#include <QString>

struct DownloadRecord;

// At most this many numbered names are tried for a target before the last one is used.
constexpr int MaxNumberedNames = 10;

// Where a download's file goes: the path the user chose (HasSavePath -1) as it is, otherwise
// the folder of its kind that it was sorted into (SortedFolder) or the download folder, a "/"
// when it lacks one, and the record's file name decoded and made a plain name, so that no name
// from a server reaches outside the folder. Empty when there is no chosen path and no folder.
QString TargetPath(const DownloadRecord& record, const QString& downloadFolder);

// The n-th numbered name of `path` (n >= 1): "[1]" to "[n]" inserted before the last "." of the
// file-name part, or appended when it has none, as file.zip, file[1].zip, file[1][2].zip. A dot
// in a folder name is never used. The name part is shortened to stay a valid folder entry.
QString NumberedName(const QString& path, int n);

// The part of `path` after its last "/".
QString FileNamePart(const QString& path);
