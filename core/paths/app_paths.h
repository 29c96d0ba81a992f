#pragma once

#include <QString>

// Where the program keeps its own files: the list file, the hand-off file, language files and
// the default part-file and download folders. $BRENLOFT_HOME when set, else
// $XDG_DATA_HOME/Brenloft. No trailing separator.
QString ApplicationFolder();

// The user's download folder with a trailing "/", or the application folder's "downloads/"
// when the user has none or it is the home folder itself.
QString DefaultDownloadFolder(const QString& applicationFolder);

// The application folder's "temp/" with a trailing "/".
QString DefaultTempFolder(const QString& applicationFolder);

// Creates the application folder with its "downloads" and "temp" folders. Returns an empty
// text on success, else what could not be created.
QString CreateApplicationFolders(const QString& applicationFolder);
