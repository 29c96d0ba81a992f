// Where a file goes when sorted by kind: its extension against the lists, and the folder of the
// kind from user-dirs.dirs in its several forms, else under the download folder.
#include <gtest/gtest.h>

#include "core/file_kinds/file_kinds.h"
#include "core/settings/settings.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

TEST(FileKinds, EachNameFindsItsFolder) {
    Sandbox box;
    const QString home = box.file(QStringLiteral("home"));
    const QString downloads = box.file(QStringLiteral("dl/"));
    Settings settings;
    LoadDefaultSettings(settings, box.path());
    settings.SortPictures += QStringLiteral(" SVG.gz");  // a double extension named by a list
    struct Row {
        const char* name;
        const char* userDirs;  // nullptr: no file
        const char* folder;    // "~" the home folder, "@" the download folder; "" stays there
    };
    const char* music = "XDG_MUSIC_DIR=\"$HOME/Music\"\n";
    const Row rows[] = {
        {"song.mp3", music, "~/Music/"},
        {"SONG.Flac", music, "~/Music/"},
        {"song.mp3", nullptr, "@Music/"},
        {"clip.mkv", "# films\n  XDG_VIDEOS_DIR = \"/srv/films\"  # shared\n", "/srv/films/"},
        {"a.b.mp4", music, "@Videos/"},
        {"report.pdf", "XDG_DOCUMENTS_DIR=\"$HOME\"\n", "@Documents/"},
        {"report.pdf", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n", "@Documents/"},
        {"song.mp3", "#XDG_MUSIC_DIR=\"$HOME/Old\"\nXDG_MUSIC_DIR=\"$HOME/My \\\"Tunes\\\"\"\n",
         "~/My \"Tunes\"/"},
        {"song.mp3", "XDG_MUSIC_DIR=$HOME/Bare\n", "~/Bare/"},
        {"song.mp3", "XDG_MUSIC_DIR=\"Music\"\n", "@Music/"},
        {"song.mp3", "XDG_MUSIC_DIR=\"$HOMEWARD/Music\"\n", "@Music/"},
        {"photo.JPEG", "XDG_PICTURES_DIR=\"$HOME/Pictures/../Photos\"\n", "~/Photos/"},
        {"src.tar.gz", music, "@Archives/"},
        {"logo.svg.GZ", music, "@Pictures/"},
        {"setup.AppImage", "XDG_PROGRAMS_DIR=\"$HOME/Apps\"\n", "@Programs/"},
        {"debian-12.iso", nullptr, "@Disk images/"},
        {"notes", music, ""},
        {".mp3", music, ""},
        {"trailing.", music, ""},
        {"data.xyz", music, ""},
    };
    const QString file = box.file(QStringLiteral("user-dirs.dirs"));
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " / " + (row.userDirs ? row.userDirs : "no file"));
        QFile::remove(file);
        if (row.userDirs != nullptr) {
            ASSERT_TRUE(WriteFile(file, row.userDirs));
        }
        QString expected = QString::fromUtf8(row.folder);
        expected.replace(u'~', home).replace(u'@', downloads);
        const FileKind kind = KindOfFile(QString::fromUtf8(row.name), settings);
        EXPECT_EQ(KindFolder(kind, ReadUserDirs(file, home), downloads), expected);
    }
}
