#include <gtest/gtest.h>

#include <QFile>

#include "core/settings/settings.h"
#include "tests/support/sandbox.h"

namespace {

constexpr char kApp[] = "/home/u/.local/share/Brenloft";

OleDate At(const char* text) {
    return *DateFromText(QString::fromLatin1(text));
}

struct StoreFixture : ::testing::Test {
    Sandbox box;
    QString path = box.file(QStringLiteral("Velmora.ini"));
    int files = 0;
    // A new file each time: QSettings caches a file it has read until its time stamp moves.
    void writeIni(const char* text) {
        path = box.file(QStringLiteral("Velmora%1.ini").arg(++files));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    Settings load(OleDate now = At("2026-12-08 10:00:00")) {
        SettingsStore store(path);
        Settings s;
        LoadSettings(s, store, QLatin1String(kApp), now);
        return s;
    }
};

}  // namespace

TEST_F(StoreFixture, EmptyStoreGivesTheDefaults) {
    const Settings s = load();
    EXPECT_EQ(s.MaxSegments, 4);
    EXPECT_EQ(s.MaxSimulDownlads, 3);
    EXPECT_EQ(s.CheckClipboard, -1);
    EXPECT_EQ(s.BrowserIngeration, -1);
    EXPECT_EQ(s.SafeDisk, -1);
    EXPECT_EQ(s.SaveAs, 0);
    EXPECT_EQ(s.ShowDownloadWindows, -1);
    EXPECT_EQ(s.Language, QStringLiteral("english"));
    EXPECT_EQ(s.IgnoreString, QStringLiteral("HTM,HTML,ASP,PHP,CGI"));
    EXPECT_EQ(s.ProxyPort, 80);
    EXPECT_EQ(s.RemoteControlPort, 6800);
    EXPECT_EQ(s.UseRemoteControl + s.RemoteControlListenAll, 0);
    EXPECT_EQ(s.RemoteControlSecret + s.RemoteControlCertificate, QString());
    EXPECT_EQ(s.SpeedLimiter, 10240);
    EXPECT_EQ(s.TempFolder, QStringLiteral("/home/u/.local/share/Brenloft/temp/"));
    EXPECT_TRUE(s.DownloadFolder.endsWith(u'/'));
    // Noon of the day it is read, since 10:00 comes first.
    EXPECT_EQ(DateToText(s.ScheduleHour), QStringLiteral("2026-12-08 12:00:00"));
    EXPECT_EQ(DateToText(s.ScheduleDate), QStringLiteral("2026-12-08 10:00:00"));
}

TEST_F(StoreFixture, NumbersRoundAndTextsWithoutNumbersReadAsZero) {
    writeIni(
        "[Options]\n"
        "MaxSimulDownlads=2.6\n"
        "MaxSegments=none\n"
        "SpeedLimiter=2.5\n"
        "ProxyPort=3.5\n"
        "ScheduleOption=-0.5\n");
    const Settings s = load();
    EXPECT_EQ(s.MaxSimulDownlads, 3);
    EXPECT_EQ(s.MaxSegments, 0);
    EXPECT_EQ(s.SpeedLimiter, 2);  // halves to even
    EXPECT_EQ(s.ProxyPort, 4);
    EXPECT_EQ(s.ScheduleOption, 0);
}

TEST_F(StoreFixture, UnconvertibleValuesKeepThePreviousOnes) {
    writeIni(
        "[Options]\n"
        "CheckClipboard=perhaps\n"
        "SaveAs=TRUE\n"
        "SafeDisk=0\n"
        "AutoStart=7\n"
        "ProxyPort=99999\n"
        "UseAntiVirus=yes\n"
        "AutoShutDownComputer=2\n"
        "ScheduleDate=not a date\n"
        "SpeedLimiter=1e12\n");
    SettingsStore store(path);
    Settings s;
    s.CheckClipboard = 0;
    s.ProxyPort = 8080;
    s.UseAntiVirus = -1;
    s.SpeedLimiter = 5000;
    s.ScheduleDate = At("2020-01-01 00:00:01");
    LoadSettings(s, store, QLatin1String(kApp), At("2026-12-08 10:00:00"));
    EXPECT_EQ(s.CheckClipboard, 0);
    EXPECT_EQ(s.SaveAs, -1);
    EXPECT_EQ(s.SafeDisk, 0);
    EXPECT_EQ(s.AutoStart, -1);
    EXPECT_EQ(s.ProxyPort, 8080);
    EXPECT_EQ(s.UseAntiVirus, -1);
    EXPECT_EQ(s.AutoShutDownComputer, -1);
    EXPECT_EQ(s.SpeedLimiter, 5000);
    EXPECT_EQ(DateToText(s.ScheduleDate), QStringLiteral("2020-01-01 00:00:01"));
}

TEST_F(StoreFixture, ScheduleHourMovesToItsNextOccurrence) {
    writeIni("[Options]\nScheduleHour=23:00\n");
    EXPECT_EQ(DateToText(load(At("2026-12-08 23:30:00")).ScheduleHour),
              QStringLiteral("2026-12-09 23:00:00"));
    EXPECT_EQ(DateToText(load(At("2026-12-08 22:59:00")).ScheduleHour),
              QStringLiteral("2026-12-08 23:00:00"));
    // A stored full date far in the past moves too; one in the future stays.
    writeIni("[Options]\nScheduleHour=2001-05-01 06:15:00\n");
    EXPECT_EQ(DateToText(load(At("2026-12-08 07:00:00")).ScheduleHour),
              QStringLiteral("2026-12-09 06:15:00"));
    writeIni("[Options]\nScheduleHour=2030-05-01 06:15:00\n");
    EXPECT_EQ(DateToText(load().ScheduleHour), QStringLiteral("2030-05-01 06:15:00"));
}

TEST_F(StoreFixture, SavedOptionsReadBackAndKeepTheirKeys) {
    Settings s = load();
    s.MaxSegments = 8;
    s.IgnoreString = QStringLiteral("HTM,EXE");
    s.DownloadFolder = QStringLiteral("/data/dl, new/");
    s.ScheduleHour = At("14:30");
    s.AutoShutDownComputer = -1;
    s.ShowDownloadWindows = 0;
    s.UseRemoteControl = s.RemoteControlListenAll = -1;
    s.RemoteControlPort = 65535;
    s.RemoteControlSecret = QStringLiteral("s3cr-t_X");
    s.RemoteControlCertificate = QStringLiteral("/etc/ssl/my cert.pem");
    s.RemoteControlPrivateKey = QStringLiteral("/etc/ssl/key.pem");
    s.ProxyPassword = QStringLiteral("p@ss w0rd~");
    s.SocksPassword = QStringLiteral("!");
    s.SocksVersion = 5;
    {
        SettingsStore store(path);
        ASSERT_TRUE(SaveSettings(s, store));
    }
    const Settings back = load(At("2026-12-08 10:00:00"));
    EXPECT_EQ(back.MaxSegments, 8);
    EXPECT_EQ(back.IgnoreString, s.IgnoreString);
    EXPECT_EQ(back.DownloadFolder, s.DownloadFolder);
    EXPECT_EQ(back.AutoShutDownComputer, -1);
    EXPECT_EQ(back.UseRemoteControl + back.RemoteControlListenAll, -2);
    EXPECT_EQ(back.RemoteControlPort, 65535);
    EXPECT_EQ(QStringList({back.RemoteControlSecret, back.RemoteControlCertificate,
                           back.RemoteControlPrivateKey}),
              QStringList(
                  {s.RemoteControlSecret, s.RemoteControlCertificate, s.RemoteControlPrivateKey}));
    EXPECT_EQ(DateToText(back.ScheduleHour), QStringLiteral("2026-12-08 14:30:00"));
    EXPECT_EQ(back.ShowDownloadWindows, -1);  // not written with the others
    EXPECT_EQ(back.ProxyPassword + u'|' + back.SocksPassword, QStringLiteral("p@ss w0rd~|!"));
    EXPECT_EQ(back.SocksVersion, 5);

    SettingsStore store(path);
    // Passwords are kept scrambled, as the site logins' are.
    EXPECT_EQ(store.read(QStringLiteral("Options"), QStringLiteral("ProxyPassword")),
              QStringLiteral("51225657055D175A4D68"));
    EXPECT_EQ(store.read(QStringLiteral("Options"), QStringLiteral("SocksPassword")),
              QStringLiteral("02"));
    EXPECT_EQ(store.read(QStringLiteral("Options"), QStringLiteral("MaxSimulDownlads")),
              QStringLiteral("3"));
    EXPECT_EQ(store.read(QStringLiteral("Options"), QStringLiteral("CheckClipboard")),
              QStringLiteral("-1"));
    EXPECT_FALSE(store.read(QStringLiteral("Options"), QStringLiteral("ShowDownloadWindows")));
    ASSERT_TRUE(SaveSingleOption(s, store, QStringLiteral("ShowDownloadWindows")));
    EXPECT_EQ(load().ShowDownloadWindows, 0);
}

TEST_F(StoreFixture, HandEditedListsReadAsOneText) {
    writeIni("[Options]\nIgnoreString=HTM,HTML,ZIP\n");
    EXPECT_EQ(load().IgnoreString, QStringLiteral("HTM,HTML,ZIP"));
}

TEST_F(StoreFixture, WindowPositionsAreNumbersOrAbsent) {
    writeIni("[Windows]\nKestorX=1500\nKestorY=40000\nBasX=-300.4\nKestorHeight=wide\n");
    SettingsStore store(path);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("KestorX")), 1500);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("KestorY")), 40000);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("KestorHeight")), std::nullopt);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("KestorWidth")), -1);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("BasX")), -300);
    WriteWindowPosition(store, QStringLiteral("BasY"), 1234.5f);
    EXPECT_EQ(store.read(QStringLiteral("Windows"), QStringLiteral("BasY")),
              QStringLiteral("1234.5"));
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("BasY")), 1234);  // half to even

    // Pixels round-trip wherever screens put a window, beyond 16-bit twips too.
    for (const int pixels : {0, 2184, 2600, 5000, -1300}) {
        WriteWindowPixels(store, QStringLiteral("KestorX"), pixels);
        EXPECT_EQ(ReadWindowPixels(store, QStringLiteral("KestorX")), pixels);
    }
}

TEST(DateText, TimesDatesAndBothReadBack) {
    EXPECT_EQ(DateFromText(u"12:00")->days(), 0.5);
    EXPECT_EQ(DateFromText(u"1899-12-31")->days(), 1.0);
    EXPECT_EQ(DateFromText(u"1899-12-29 18:00:00")->days(), -1.75);
    EXPECT_EQ(DateFromText(u"11:00 PM"), DateFromText(u"23:00"));
    EXPECT_FALSE(DateFromText(u"").has_value());
    EXPECT_FALSE(DateFromText(u"25:00").has_value());
    for (const char* text : {"2026-12-08 23:00:00", "2026-12-08", "07:05:09"}) {
        EXPECT_EQ(DateToText(*DateFromText(QString::fromLatin1(text))), QLatin1String(text));
    }
}
