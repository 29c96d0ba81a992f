#include <gtest/gtest.h>

#include "core/download_list/site_logins.h"
#include "tests/support/sandbox.h"

TEST(PasswordScrambling, EachByteBecomesTwoUpperCaseHexDigits) {
    // '!' is 33: at position 1 it gives 33 - 32 + 1 = 2; ")" at position 2 gives 41-32+2 = 11.
    EXPECT_EQ(ScramblePassword(QStringLiteral("!)")), QStringLiteral("020B"));
    EXPECT_EQ(ScramblePassword(QStringLiteral("abc")), QStringLiteral("424446"));
    EXPECT_EQ(ScramblePassword(QString()), QString());
    for (const QString& password :
         {QStringLiteral("secret"), QStringLiteral("pässwörd"), QStringLiteral(" a b ")}) {
        const auto scrambled = ScramblePassword(password);
        ASSERT_TRUE(scrambled.has_value());
        EXPECT_EQ(UnscramblePassword(*scrambled), password);
    }
}

TEST(PasswordScrambling, ValuesOutsideTwoDigitsAreRefused) {
    // A control character falls below 0; bytes late in a long password rise above FF.
    EXPECT_FALSE(ScramblePassword(QStringLiteral("\t")).has_value());
    EXPECT_FALSE(ScramblePassword(QString(200, u'z')).has_value());
    EXPECT_TRUE(ScramblePassword(QString(165, u'z')).has_value());  // 90 + 165 = 0xFF
}

TEST(PasswordScrambling, PairsThatAreNotHexAreDropped) {
    EXPECT_EQ(UnscramblePassword(QStringLiteral("zz")), QString());
    EXPECT_EQ(UnscramblePassword(QStringLiteral("42z")), QStringLiteral("a"));
}

TEST(SiteLogins, SavedLoginIsFoundForTheHostInAnyCaseAndSurvivesALoad) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    DownloadListState list;
    DownloadRecord r;
    r.HostName = QStringLiteral("Files.Example.org");
    r.Port = 80;
    r.Active = FlagTrue;
    list.DownloadList.append(r);
    list.DownloadCount = 1;

    ASSERT_EQ(SaveSiteLogin(list, path, QStringLiteral("files.example.org"), QStringLiteral("ann"),
                            QStringLiteral("pw1")),
              SaveLoginResult::Saved);
    // Another letter case is another site: a second slot, and the first one still wins.
    ASSERT_EQ(SaveSiteLogin(list, path, QStringLiteral("FILES.example.org"), QStringLiteral("bob"),
                            QStringLiteral("pw2")),
              SaveLoginResult::Saved);
    // The same site again replaces its slot.
    ASSERT_EQ(SaveSiteLogin(list, path, QStringLiteral("files.example.org"), QStringLiteral("ann"),
                            QStringLiteral("pw3")),
              SaveLoginResult::Saved);
    EXPECT_EQ(list.SiteLoginCount, 2);
    EXPECT_EQ(list.SiteLoginList[1].LoginFlag, 1);

    DownloadListState loaded;
    LoadList(loaded, path);
    ASSERT_TRUE(ApplySiteLogin(loaded, 1));
    EXPECT_EQ(loaded.DownloadList[1].UserName, QStringLiteral("ann"));
    EXPECT_EQ(loaded.DownloadList[1].Password, QStringLiteral("pw3"));
    EXPECT_NE(loaded.SiteLoginList[1].LoginPassword, QStringLiteral("pw3"));
}

TEST(SiteLogins, UnstorablePasswordChangesNothing) {
    Sandbox box;
    DownloadListState list;
    EXPECT_EQ(SaveSiteLogin(list, box.file(QStringLiteral("Brenloft.dat")), QStringLiteral("h"),
                            QStringLiteral("u"), QStringLiteral("tab\there")),
              SaveLoginResult::PasswordNotStorable);
    EXPECT_EQ(list.SiteLoginCount, 0);
    EXPECT_EQ(list.SiteLoginList.size(), 1);
}

// A login goes to the origin it was kept for, or from http:// on port 80 to its https:// on 443;
// an older list's bare host name is that http:// origin. Without a match the record stays as it is.
TEST(SiteLogins, LoginsGoToTheirOriginOrItsSecureForm) {
    const struct {
        const char* site;
        std::int16_t protocol;
        std::int32_t port;
        bool applies;
    } rows[] = {
        {"other.example", Protocol::Http, 80, false},
        {"h.example", Protocol::Http, 8080, false},
        {"http://H.example", Protocol::Https, 443, true},
        {"https://h.example", Protocol::Http, 80, false},
        {"http://h.example:8080", Protocol::Http, 8080, true},
    };
    for (const auto& row : rows) {
        DownloadListState list;
        DownloadRecord r;
        r.Protocol = row.protocol;
        r.HostName = QStringLiteral("h.Example");
        r.Port = row.port;
        r.UserName = QStringLiteral("anonymous");
        list.DownloadList.append(r);
        list.DownloadCount = 1;
        list.SiteLoginList.append(
            {QString::fromUtf8(row.site), 0, QStringLiteral("ann"), QStringLiteral("5159"), 1});
        list.SiteLoginCount = 1;
        EXPECT_EQ(ApplySiteLogin(list, 1), row.applies) << row.site << ' ' << row.port;
        EXPECT_EQ(list.DownloadList[1].UserName + list.DownloadList[1].Password,
                  row.applies ? QStringLiteral("annpw") : QStringLiteral("anonymous"))
            << row.site;
        EXPECT_FALSE(ApplySiteLogin(list, 2));  // no such slot
    }
}
