// The options window's language list: which lines name a language, which file wins a key,
// and how a name or a key is found again.
#include <gtest/gtest.h>

#include <QDir>

#include "core/text/language_list.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

QStringList Names(const QList<LanguageEntry>& languages) {
    QStringList names;
    for (const LanguageEntry& entry : languages) {
        names << entry.key + u'=' + entry.name;
    }
    return names;
}

}  // namespace

TEST(LanguageList, OnlyLinesStartingWithLangNameALanguage) {
    Sandbox mine;
    Sandbox installed;
    struct File {
        const Sandbox& folder;
        const char* name;
        const char* text;
    };
    const File files[] = {
        {mine, "english.txt",
         "// A comment that mentions LANG= names nothing\r\n  LANG=English  \r\n0=bytes\r\n"},
        {mine, "bilingual.txt", "LANG=Deutsch\nx=LANG=not this\n  LANG= Schwiizerdütsch\n"},
        {mine, "none.txt", "600=General\nlang=lower case\n"},
        {mine, "notes.md", "LANG=Not a language file\n"},
        {installed, "english.txt", "LANG=Hidden by the user's own\n"},
        {installed, "francais.txt",
         "LANG=Fran\xC3\xA7"
         "ais\n"},
    };
    for (const File& file : files) {
        ASSERT_TRUE(WriteFile(file.folder.file(QLatin1String(file.name)), file.text));
    }
    const QList<LanguageEntry> languages = ListLanguages({mine.path(), installed.path()});
    EXPECT_EQ(Names(languages),
              (QStringList{
                  QStringLiteral("bilingual=Deutsch"), QStringLiteral("bilingual=Schwiizerdütsch"),
                  QStringLiteral("english=English"), QStringLiteral("francais=Français")}));

    EXPECT_EQ(LanguageKeyForName(languages, QStringLiteral("FRANÇAIS")),
              QStringLiteral("francais"));
    EXPECT_EQ(LanguageKeyForName(languages, QStringLiteral("schwiizerdütsch")),
              QStringLiteral("bilingual"));
    EXPECT_FALSE(LanguageKeyForName(languages, QStringLiteral("Klingon")));
    // A key that offers several names selects the last of them.
    EXPECT_EQ(LanguageIndexForKey(languages, QStringLiteral("Bilingual")), 1);
    EXPECT_EQ(LanguageIndexForKey(languages, QStringLiteral("english")), 2);
    EXPECT_EQ(LanguageIndexForKey(languages, QStringLiteral("none")), -1);
}

TEST(LanguageList, TheShippedFilesOfferEnglishAndFrench) {
    // english.txt mentions "LANG=" in a comment too; it must not add a language of its own.
    const QList<LanguageEntry> languages = ListLanguages({SourcePath(QStringLiteral("data/lang"))});
    EXPECT_EQ(Names(languages), (QStringList{QStringLiteral("english=English"),
                                             QStringLiteral("francais=Français")}));
}
