#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <span>

#include "core/file_kinds/user_dirs.h"

struct Settings;

// The kinds a finished file is sorted by, each with its list of extensions in the settings.
enum class FileKind : std::uint8_t {
    None,  // in no list: the file stays in the download folder
    Music,
    Videos,
    Pictures,
    Documents,
    Archives,
    Programs,
    DiskImages,
};

struct KindSetting {
    FileKind kind;
    QString Settings::*extensions;
    // Its entry in user-dirs.dirs ("MUSIC" for XDG_MUSIC_DIR); empty: none, it always goes to
    // `subfolder`.
    QLatin1StringView userDir;
    // Under the download folder. Never translated: the folders must not move with the language.
    QLatin1StringView subfolder;
};

// Every kind, in the order the settings and the options window list them.
std::span<const KindSetting> KindSettings();

// A list as the user typed it: blanks or commas between the extensions, a leading dot or "*."
// allowed, any case. Lower case, without the dots.
QStringList ExtensionList(const QString& text);

// The kind of `fileName` by its extension, case aside. Of a double extension (".tar.gz") the
// last one decides, unless a list names the double one.
FileKind KindOfFile(const QString& fileName, const Settings& settings);

// Where files of `kind` go, with a trailing "/": the user's folder of that kind in `dirs`, else
// the kind's sub-folder of `downloadFolder`. Empty for None, or without a download folder.
QString KindFolder(FileKind kind, const UserDirs& dirs, const QString& downloadFolder);

// What OK finds wrong with the lists, one text per kind in KindSettings() order.
enum class ListProblem : std::uint8_t {
    None,
    NotAnExtension,  // a wildcard, a "/", more than two parts
    TwoKinds,        // the same extension under two kinds: only the first would ever count
};
ListProblem CheckExtensionLists(const QStringList& lists);
