#include <gtest/gtest.h>

#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"

namespace {

TextTable Units() {
    TextTable t;
    t.set(0, QStringLiteral("bytes"));
    t.set(1, QStringLiteral("KB"));
    t.set(2, QStringLiteral("MB"));
    t.set(3, QStringLiteral("GB"));
    return t;
}

QString Size(std::int64_t bytes) {
    return FormatSize(Currency::fromBytes(bytes), Units());
}

}  // namespace

TEST(FormatSize, DecimalThresholdsBinaryDivisorsTruncatedDecimals) {
    EXPECT_EQ(Size(-1), QString());
    EXPECT_EQ(Size(0), QStringLiteral("0 bytes"));
    EXPECT_EQ(Size(999), QStringLiteral("999 bytes"));
    EXPECT_EQ(Size(1000), QStringLiteral("0.9 KB"));
    EXPECT_EQ(Size(1024), QStringLiteral("1 KB"));
    EXPECT_EQ(Size(1535), QStringLiteral("1.4 KB"));  // 1.499 truncated, not rounded
    EXPECT_EQ(Size(999999), QStringLiteral("976.5 KB"));
    EXPECT_EQ(Size(1000000), QStringLiteral("0.95 MB"));
    EXPECT_EQ(Size(1048576), QStringLiteral("1 MB"));
    EXPECT_EQ(Size(1153434), QStringLiteral("1.1 MB"));  // 1.10000... keeps one digit
    EXPECT_EQ(Size(999999999), QStringLiteral("953.67 MB"));
    EXPECT_EQ(Size(1000000000), QStringLiteral("0.93 GB"));
    EXPECT_EQ(Size(5368709120LL), QStringLiteral("5 GB"));
    EXPECT_EQ(Size(900000000000000LL), QStringLiteral("838190.31 GB"));
}

// The decimal separator is the one of the locale the language names; none names English's.
TEST(FormatSize, DecimalSeparatorOfTheLanguagesLocale) {
    struct Case {
        const char* locale;
        std::int64_t bytes;
        const char* shown;
    };
    for (const Case& c : {
             Case{"fr_FR", 1535, "1,4 KB"},
             Case{"fr_FR", 1000000000, "0,93 GB"},
             Case{"fr_FR", 999, "999 bytes"},
             Case{"de_DE", 1153434, "1,1 MB"},
             Case{"en_US", 1535, "1.4 KB"},
             Case{"", 1535, "1.4 KB"},
         }) {
        SCOPED_TRACE(c.locale);
        TextTable texts = Units();
        texts.set(LocaleTextNumber, QString::fromUtf8(c.locale));
        EXPECT_EQ(FormatSize(Currency::fromBytes(c.bytes), texts), QString::fromUtf8(c.shown));
    }
    TextTable french = Units();
    french.set(LocaleTextNumber, QStringLiteral("fr_FR"));
    EXPECT_EQ(FormatPercent(12.5f, french), QStringLiteral("12,5"));
    EXPECT_EQ(FormatPercent(100.0f, Units()), QStringLiteral("100.0"));
}

TEST(FormatDuration, MinutesAndSecondsThenHours) {
    EXPECT_EQ(FormatDuration(-0.5f), QString());
    EXPECT_EQ(FormatDuration(0), QStringLiteral("00:00"));
    EXPECT_EQ(FormatDuration(425), QStringLiteral("07:05"));
    EXPECT_EQ(FormatDuration(59.6f), QStringLiteral("01:00"));
    EXPECT_EQ(FormatDuration(3599.4f), QStringLiteral("59:59"));
    EXPECT_EQ(FormatDuration(3600), QStringLiteral("01:00:00"));
    EXPECT_EQ(FormatDuration(3723), QStringLiteral("01:02:03"));
    EXPECT_EQ(FormatDuration(360000), QStringLiteral("100:00:00"));
    EXPECT_EQ(FormatDuration(std::numeric_limits<float>::quiet_NaN()), QString());
    EXPECT_FALSE(FormatDuration(std::numeric_limits<float>::infinity()).isEmpty());
}

TEST(UrlCoding, EncodeEscapesOnlyControlsSpaceAndLowPunctuation) {
    EXPECT_EQ(EncodeUrl(QStringLiteral("a b")), QStringLiteral("a%20b"));
    EXPECT_EQ(EncodeUrl(QStringLiteral("\t")), QStringLiteral("%9"));
    EXPECT_EQ(EncodeUrl(QStringLiteral("!\"#$'()*+")),
              QStringLiteral("%21%22%23%24%27%28%29%2A%2B"));
    EXPECT_EQ(EncodeUrl(QStringLiteral("%&,/:?=~")), QStringLiteral("%&,/:?=~"));
    EXPECT_EQ(EncodeUrl(QStringLiteral("http://h/ä ö")), QStringLiteral("http://h/ä%20ö"));
}

TEST(UrlCoding, DecodeTakesTwoHexDigitsAfterEachPercent) {
    EXPECT_EQ(DecodeUrl(QStringLiteral("a%20b%2fc")), QStringLiteral("a b/c"));
    EXPECT_EQ(DecodeUrl(QStringLiteral("%C3%A4")), QStringLiteral("ä"));
    EXPECT_EQ(DecodeUrl(QStringLiteral("%zzx")), QString(QChar(0)) + u'x');
    EXPECT_EQ(DecodeUrl(QStringLiteral("end%4")), QStringLiteral("end") + QChar(0));
    EXPECT_EQ(DecodeUrl(QStringLiteral("end%")), QStringLiteral("end") + QChar(0));
    const QString text = QStringLiteral("http://h/dir name/a+b (1).zip");
    EXPECT_EQ(DecodeUrl(EncodeUrl(text)), text);
}

TEST(EscapeControls, ControlCharactersShownEscapedTheRestAsItIs) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("plain ä €.zip"), QStringLiteral("plain ä €.zip")},
        {QStringLiteral("\x1b]0;title\x07"), QStringLiteral("\\x1b]0;title\\x07")},
        {QStringLiteral("a\nb\r\tc"), QStringLiteral("a\\nb\\r\\tc")},
        {QStringLiteral("\\x1b"), QStringLiteral("\\\\x1b")},
        {QString(QChar(0)) + QChar(0x7f) + QChar(0x9b) + QChar(0x2028),
         QStringLiteral("\\x00\\x7f\\u009b\\u2028")},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(EscapeControls(text), shown);
    }
}
