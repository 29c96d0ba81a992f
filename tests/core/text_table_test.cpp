#include <gtest/gtest.h>

#include <QFile>

#include "core/text/text_table.h"
#include "tests/support/sandbox.h"

namespace {

void Write(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

}  // namespace

TEST(LanguageLines, KeysValuesCommentsAndOverrides) {
    TextTable t;
    t.loadText(
        QStringLiteral("LANG=Test\r\n"
                       "600=first\r\n"
                       "600=second\r\n"
                       "  601 = spaced out   \r\n"
                       "; 602=commented\r\n"
                       "// 603=commented\r\n"
                       "604 has no equals sign\r\n"
                       "\r\n"
                       "605==starts with equals\r\n"
                       "6 06=blanks inside the number\r\n"
                       "607.6=rounded key\r\n"
                       "&H2A=hex key\r\n"
                       "99999=out of range\r\n"
                       "-1=negative\r\n"
                       "name=non-numeric key\r\n"
                       "0=bytes\r\n"));
    EXPECT_EQ(t.text(600), QStringLiteral("second"));
    EXPECT_EQ(t.text(601), QStringLiteral(" spaced out"));
    EXPECT_EQ(t.text(602), QString());
    EXPECT_EQ(t.text(603), QString());
    EXPECT_EQ(t.text(604), QString());
    EXPECT_EQ(t.text(605), QStringLiteral("=starts with equals"));
    EXPECT_EQ(t.text(606), QStringLiteral("blanks inside the number"));
    EXPECT_EQ(t.text(608), QStringLiteral("rounded key"));
    EXPECT_EQ(t.text(42), QStringLiteral("hex key"));
    EXPECT_EQ(t.text(99999), QString());
    // LANG= and the non-numeric key both land on entry 0; the last line wins.
    EXPECT_EQ(t.text(0), QStringLiteral("bytes"));
}

TEST(LanguageLines, LangLineSetsEntryZeroUnlessALaterLineDoes) {
    TextTable t;
    t.loadText(QStringLiteral("0=bytes\nLANG=Deutsch\n"));
    EXPECT_EQ(t.text(0), QStringLiteral("Deutsch"));
}

TEST(LanguageFiles, ChosenLanguageOverlaysEnglishAndSwitchingKeepsOldEntries) {
    Sandbox app;
    Sandbox installed;
    Write(installed.file(QStringLiteral("english.txt")), "LANG=English\n700=Seven\n701=One\n");
    Write(app.file(QStringLiteral("other.txt")), "LANG=Other\n701=Uno\n");
    Write(app.file(QStringLiteral("third.txt")), "LANG=Third\n");
    const QStringList folders{app.path(), installed.path()};

    TextTable t;
    ASSERT_TRUE(LoadLanguage(t, QStringLiteral("english"), folders));
    ASSERT_TRUE(LoadLanguage(t, QStringLiteral("other"), folders));
    EXPECT_EQ(t.text(700), QStringLiteral("Seven"));
    EXPECT_EQ(t.text(701), QStringLiteral("Uno"));
    ASSERT_TRUE(LoadLanguage(t, QStringLiteral("third"), folders));
    EXPECT_EQ(t.text(701), QStringLiteral("Uno"));

    // A file in the application folder comes before the installed one.
    Write(app.file(QStringLiteral("english.txt")), "700=Local seven\n");
    ASSERT_TRUE(LoadLanguage(t, QStringLiteral("english"), folders));
    EXPECT_EQ(t.text(700), QStringLiteral("Local seven"));

    EXPECT_FALSE(LoadLanguage(t, QStringLiteral("missing"), folders));
    EXPECT_FALSE(LoadLanguage(t, QStringLiteral("../english"), folders));
    EXPECT_EQ(t.text(700), QStringLiteral("Local seven"));
}
