#pragma once

#include <QHash>
#include <QString>

// The user's own folders for music, videos and the like, as xdg-user-dirs keeps them: the
// name of each entry of user-dirs.dirs (MUSIC for XDG_MUSIC_DIR) and its absolute, clean path.
// An entry that is missing, malformed or names the home folder itself is not set.
using UserDirs = QHash<QString, QString>;

// Reads `path` (the file may be missing: nothing is set), with "$HOME" meaning `home`.
UserDirs ReadUserDirs(const QString& path, const QString& home);

// Where the user's file is: $XDG_CONFIG_HOME/user-dirs.dirs, ~/.config/user-dirs.dirs when the
// variable is unset or not an absolute path.
QString UserDirsFile();
