#include "update/version_file.h"

#include <gtest/gtest.h>

#include <QList>
#include <QStringList>

#include "tests/support/text_printer.h"

namespace {

struct VersionCase {
    const char* name;
    QByteArray body;
    bool hasVersion;
    bool newer;
    const char* digits;
    const char* notes;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << c.name;
}

class VersionFileTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionFileTest, ReadsTheFirstLineAsTheServerWroteIt) {
    const VersionCase& c = GetParam();
    const VersionFile file = ReadVersionFile(c.body);
    EXPECT_EQ(file.hasVersion, c.hasVersion);
    EXPECT_EQ(file.newer, c.newer);
    EXPECT_EQ(file.digits, QString::fromUtf8(c.digits));
    EXPECT_EQ(file.notes, QString::fromUtf8(c.notes));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, VersionFileTest,
    ::testing::Values(
        VersionCase{"same", "1", true, false, "1", ""},
        VersionCase{"older", "0.9\r\nAn old one.", true, false, "09", "An old one."},
        VersionCase{"newer_with_notes", "1.5\r\nFixes a crash.\r\nFaster joins.\r\n", true, true,
                    "15", "Fixes a crash.\nFaster joins."},
        // The notes' digits never join the version's.
        VersionCase{"notes_start_with_a_number", "1\r\n2 fixes", true, false, "1", "2 fixes"},
        VersionCase{"one_point_one", "1.1", true, true, "11", ""},
        VersionCase{"lf_only", "1.5\nFirst line.\nSecond.\n", true, true, "15",
                    "First line.\nSecond."},
        VersionCase{"whole_number", "2\r\n", true, true, "2", ""},
        VersionCase{"ten", "10", true, true, "10", ""},
        VersionCase{"one_point_zero", "1.0", true, false, "10", ""},
        VersionCase{"tiny_step", "1.000001", true, true, "1000001", ""},
        VersionCase{"leading_zero", "01.5", true, true, "015", ""},
        VersionCase{"blanks_around", "  1.5 \t\r\nx", true, true, "15", "x"},
        VersionCase{"byte_order_mark",
                    "\xEF\xBB\xBF"
                    "1.5\r\n",
                    true, true, "15", ""},
        VersionCase{"empty", "", false, false, "", ""},
        VersionCase{"words", "<html><body>Not here</body></html>", false, false, "", ""},
        VersionCase{"number_then_words", "1.5 beta\r\n", false, false, "", ""},
        VersionCase{"comma", "1,5", false, false, "", ""},
        VersionCase{"letter_first", "v2", false, false, "", ""},
        VersionCase{"point_first", ".5", false, false, "", ""},
        VersionCase{"point_last", "5.", false, false, "", ""},
        VersionCase{"two_points", "1.2.3", false, false, "", ""},
        VersionCase{"signs", "+2", false, false, "", ""},
        VersionCase{"negative", "-1", false, false, "", ""},
        VersionCase{"exponent", "1e3", false, false, "", ""},
        VersionCase{"far_too_long", "1234567890123456789012345", false, false, "", ""}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST(VersionFileNotes, StayPlainText) {
    // Markup is text like any other: the question shows it as written.
    EXPECT_EQ(ReadVersionFile("2\r\n<b>bold</b> & <a href=x>link</a>").notes,
              QStringLiteral("<b>bold</b> & <a href=x>link</a>"));
    // Control characters and direction overrides go; tabs and line breaks stay.
    EXPECT_EQ(ReadVersionFile("2\r\na\x01"
                              "b\x1b[31mc\td\r\ne\xE2\x80\xAE"
                              "f")
                  .notes,
              QStringLiteral("ab[31mc\td\nef"));
    // Not UTF-8: read as Latin-1 rather than lost.
    EXPECT_EQ(ReadVersionFile("2\r\ncaf\xE9").notes, QStringLiteral("caf\u00E9"));
    EXPECT_EQ(ReadVersionFile("2\r\ncaf\xC3\xA9").notes, QStringLiteral("caf\u00E9"));
}

TEST(VersionFileNotes, AreCutToASensibleLength) {
    const QString longNotes = ReadVersionFile("2\r\n" + QByteArray(5000, 'x')).notes;
    EXPECT_EQ(longNotes, QString(MaxNotesCharacters, u'x') + QChar(0x2026));

    QByteArray manyLines = "2\r\n";
    for (int i = 1; i <= 100; ++i) {
        manyLines += "line " + QByteArray::number(i) + "\r\n";
    }
    const QStringList lines = ReadVersionFile(manyLines).notes.split(u'\n');
    ASSERT_EQ(lines.size(), MaxNotesLines);
    EXPECT_EQ(lines.back(), QStringLiteral("line %1").arg(MaxNotesLines) + QChar(0x2026));

    // A cut never splits a character that takes two UTF-16 units.
    QByteArray emoji = "2\r\n" + QByteArray(MaxNotesCharacters - 1, 'y') + "\xF0\x9F\x98\x80";
    const QString cut = ReadVersionFile(emoji).notes;
    EXPECT_FALSE(cut.at(cut.size() - 2).isHighSurrogate());
}

}  // namespace
