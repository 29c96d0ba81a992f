// OK's rules without a window: which input is refused with which text, that nothing reaches
// the disk before everything is valid, and what the accepted controls become.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>

#include "core/settings/browser_hook_files.h"
#include "core/settings/options_form.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

const QDateTime Now(QDate(2026, 12, 8), QTime(10, 0));

struct OptionsFormTest : ::testing::Test {
    Sandbox box;
    Settings current;

    void SetUp() override {
        current.DownloadFolder = box.file(QStringLiteral("dl/"));
        current.TempFolder = box.file(QStringLiteral("parts/"));
        current.MaxSegments = 4;
        current.MaxSimulDownlads = 3;
        current.ProxyPort = 80;
        current.SpeedLimiter = 10240;
        current.Language = QStringLiteral("english");
        current.BrowserIEIntegration = -1;
        current.ScheduleDate = OleDate::fromDateTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4)));
        current.ScheduleHour = OleDate::fromDateTime(QDateTime(QDate(2026, 12, 8), QTime(12, 0)));
    }
    OptionsForm form() const { return FormFromSettings(current); }
    bool exists(const char* name) const { return QFileInfo::exists(box.file(QLatin1String(name))); }
};

}  // namespace

TEST_F(OptionsFormTest, EachInvalidInputGivesItsTextAndTouchesNoFolder) {
    const QString aFile = box.file(QStringLiteral("plain-file"));
    ASSERT_TRUE(WriteFile(aFile, "x"));
    struct Row {
        const char* what;
        std::function<void(OptionsForm&)> change;
        int message;
        OptionsCheck::Icon icon;
    };
    using I = OptionsCheck::Icon;
    const std::vector<Row> rows = {
        {"empty download folder", [](OptionsForm& f) { f.downloadFolder = QStringLiteral(" "); },
         796, I::Information},
        {"empty temporary folder", [](OptionsForm& f) { f.tempFolder.clear(); }, 797,
         I::Information},
        {"both empty: the download folder first",
         [](OptionsForm& f) {
             f.downloadFolder.clear();
             f.tempFolder.clear();
         },
         796, I::Information},
        {"relative download folder",
         [](OptionsForm& f) { f.downloadFolder = QStringLiteral("dl/"); }, 860, I::Information},
        {"relative temporary folder",
         [](OptionsForm& f) { f.tempFolder = QStringLiteral("~/parts"); }, 861, I::Information},
        {"no segments", [](OptionsForm& f) { f.maxSegments = QStringLiteral("0"); }, 798,
         I::Warning},
        {"nine segments", [](OptionsForm& f) { f.maxSegments = QStringLiteral("9"); }, 798,
         I::Warning},
        {"segments not a number", [](OptionsForm& f) { f.maxSegments = QStringLiteral("four"); },
         798, I::Warning},
        {"8.6 segments round to 9", [](OptionsForm& f) { f.maxSegments = QStringLiteral("8.6"); },
         798, I::Warning},
        {"no simultaneous downloads",
         [](OptionsForm& f) { f.maxSimultaneous = QStringLiteral("0"); }, 799, I::Warning},
        {"100 simultaneous downloads",
         [](OptionsForm& f) { f.maxSimultaneous = QStringLiteral("100"); }, 799, I::Warning},
        {"port above 65535", [](OptionsForm& f) { f.proxyPort = QStringLiteral("65536"); }, 862,
         I::Warning},
        {"negative port", [](OptionsForm& f) { f.proxyPort = QStringLiteral("-1"); }, 862,
         I::Warning},
        {"SOCKS port above 65535", [](OptionsForm& f) { f.socksPort = QStringLiteral("70000"); },
         1409, I::Warning},
        {"HTTP proxy without a server",
         [](OptionsForm& f) {
             f.proxyHttp = true;
             f.proxyServer = QStringLiteral(" ");
         },
         1407, I::Warning},
        {"SOCKS without a server", [](OptionsForm& f) { f.socksVersion = 4; }, 1408, I::Warning},
        {"a password with no stored form",
         [](OptionsForm& f) { f.socksPassword = QStringLiteral("\x01"); }, 1410, I::Warning},
        {"a wildcard for an extension",
         [](OptionsForm& f) { f.sortLists[5] = QStringLiteral("deb *.r?m"); }, 1493, I::Warning},
        {"one extension under two kinds",
         [](OptionsForm& f) {
             f.sortLists[0] = QStringLiteral("mp3");
             f.sortLists[1] = QStringLiteral("mkv .MP3");
         },
         1494, I::Warning},
        {"segments before the port",
         [](OptionsForm& f) {
             f.maxSegments = QStringLiteral("9");
             f.proxyPort = QStringLiteral("70000");
         },
         798, I::Warning},
        {"folders before numbers",
         [](OptionsForm& f) {
             f.tempFolder = QStringLiteral("t");
             f.maxSegments = QStringLiteral("9");
         },
         861, I::Information},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        OptionsForm f = form();
        row.change(f);
        const OptionsCheck check = CheckOptionsForm(f, current, Now);
        EXPECT_EQ(check.message, row.message);
        EXPECT_EQ(check.icon, row.icon);
        // Refused before any folder was made.
        EXPECT_FALSE(exists("dl"));
        EXPECT_FALSE(exists("parts"));
    }

    // A folder that cannot be made (a file is in its way) is named by its own text.
    OptionsForm f = form();
    f.downloadFolder = aFile + QStringLiteral("/dl");
    EXPECT_EQ(CheckOptionsForm(f, current, Now).message, 796);
    f = form();
    f.tempFolder = aFile + QStringLiteral("/parts/");
    EXPECT_EQ(CheckOptionsForm(f, current, Now).message, 797);
}

TEST_F(OptionsFormTest, AcceptedFormsMakeTheFoldersAndLeaveNoFileInThem) {
    OptionsForm f = form();
    f.downloadFolder = box.file(QStringLiteral("new/downloads"));
    f.tempFolder = box.file(QStringLiteral("new/parts"));
    // A file of the user's that an old write test would have replaced.
    QDir().mkpath(f.downloadFolder);
    const QString users = f.downloadFolder + QStringLiteral("/temp.tst");
    ASSERT_TRUE(WriteFile(users, "mine"));

    const OptionsCheck check = CheckOptionsForm(f, current, Now);
    ASSERT_EQ(check.message, 0);
    EXPECT_EQ(check.settings.DownloadFolder, f.downloadFolder + u'/');
    EXPECT_EQ(check.settings.TempFolder, f.tempFolder + u'/');
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    EXPECT_EQ(QDir(f.downloadFolder).entryList(all), QStringList{QStringLiteral("temp.tst")});
    EXPECT_EQ(ReadFile(users), QByteArray("mine"));
    EXPECT_TRUE(QDir(f.tempFolder).entryList(all).isEmpty());
}

TEST_F(OptionsFormTest, NumbersAtTheirLimitsAndTheirStoredForms) {
    struct Row {
        const char* segments;
        const char* simultaneous;
        const char* port;
        const char* speed;
        std::int32_t wantSegments, wantSimultaneous, wantPort, wantSpeed;
    };
    const Row rows[] = {
        {"8", "99", "", "0.5", 8, 99, 8080, 512},
        {"1", "1", "0", "20000", 1, 1, 8080, 10000000},
        {"2.4", " 7", "65535", "0,5", 2, 7, 65535, 512},
        {"8.5", "98.5", "40000", "-3", 8, 98, 40000, 0},  // halves go to even
        {"3", "3", "1", "abc", 3, 3, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        OptionsForm f = form();
        f.maxSegments = QLatin1String(row.segments);
        f.maxSimultaneous = QLatin1String(row.simultaneous);
        f.proxyPort = QLatin1String(row.port);
        f.speedKilobytes = QLatin1String(row.speed);
        const OptionsCheck check = CheckOptionsForm(f, current, Now);
        ASSERT_EQ(check.message, 0);
        EXPECT_EQ(check.settings.MaxSegments, row.wantSegments);
        EXPECT_EQ(check.settings.MaxSimulDownlads, row.wantSimultaneous);
        EXPECT_EQ(check.settings.ProxyPort, row.wantPort);
        EXPECT_EQ(check.settings.SpeedLimiter, row.wantSpeed);
    }
    EXPECT_EQ(SpeedText(10240), QStringLiteral("10"));
    EXPECT_EQ(SpeedText(512), QStringLiteral("0.5"));
    EXPECT_EQ(SpeedText(10000000), QStringLiteral("9765.63"));
    EXPECT_EQ(SpeedText(1000), QStringLiteral("0.98"));
}

TEST_F(OptionsFormTest, TheScheduleTakesTheDateAndTheNextOccurrenceOfTheHour) {
    OptionsForm f = form();
    f.scheduleDate = QDateTime(QDate(2027, 3, 4), QTime(5, 6));
    f.scheduleHour = QTime(9, 30);  // earlier than now: tomorrow
    OptionsCheck check = CheckOptionsForm(f, current, Now);
    ASSERT_EQ(check.message, 0);
    EXPECT_EQ(check.settings.ScheduleDate.toDateTime(), f.scheduleDate);
    EXPECT_EQ(check.settings.ScheduleHour.toDateTime(),
              QDateTime(QDate(2026, 12, 9), QTime(9, 30)));
    f.scheduleHour = QTime(10, 30);  // later today
    check = CheckOptionsForm(f, current, Now);
    EXPECT_EQ(check.settings.ScheduleHour.toDateTime(),
              QDateTime(QDate(2026, 12, 8), QTime(10, 30)));
}

TEST_F(OptionsFormTest, EveryControlRoundTripsItsSettingAndIntegrationIsLeftToTheCaller) {
    // Every value the opposite of the defaults above.
    Settings s = current;
    s.SaveAs = s.SafeDisk = s.AutoPreviewZIP = s.AutoStart = s.CheckClipboard = -1;
    s.BrowserIngeration = -1;
    s.IgnoreString = QStringLiteral("ZIP,EXE");
    s.UseAntiVirus = -1;
    s.AntiVirusCommand = QStringLiteral("\"/opt/a v/scan\" %F");
    s.MaxSegments = 7;
    s.MaxSimulDownlads = 42;
    s.UseSpeedLimiter = -1;
    s.SpeedLimiter = 512;
    s.Schedule = -1;
    s.ScheduleOption = 1;
    s.AutoCloseInternet = s.AutoShutDownComputer = -1;
    s.ProxyHTTP = s.ProxyFTP = -1;
    s.ProxyServer = QStringLiteral("proxy.example");
    s.ProxyPort = 40000;
    s.ProxyUser = QStringLiteral("ann");
    s.ProxyPassword = QStringLiteral("pw 1");
    s.SocksVersion = 5;
    s.SocksServer = QStringLiteral("127.0.0.1");
    s.SocksPort = 40001;
    s.SocksUser = QStringLiteral("bob");
    s.SocksPassword = QStringLiteral("pw 2");
    s.SystemProxy = -1;
    s.BrowserIEIntegrationMode = 2;
    s.Notifications = s.StayAwake = s.SortByKind = -1;
    s.SortMusic = QStringLiteral(" .MP3, ogg ");
    s.SortDiskImages = QStringLiteral("iso");
    const OptionsCheck back = CheckOptionsForm(FormFromSettings(s), current, Now);
    ASSERT_EQ(back.message, 0);
    const Settings& b = back.settings;
    EXPECT_EQ(b.SaveAs, -1);
    EXPECT_EQ(b.SafeDisk, -1);
    EXPECT_EQ(b.AutoPreviewZIP, -1);
    EXPECT_EQ(b.AutoStart, -1);
    EXPECT_EQ(b.CheckClipboard, -1);
    EXPECT_EQ(b.BrowserIngeration, -1);
    EXPECT_EQ(b.IgnoreString, s.IgnoreString);
    EXPECT_EQ(b.UseAntiVirus, -1);
    EXPECT_EQ(b.AntiVirusCommand, s.AntiVirusCommand);
    EXPECT_EQ(b.MaxSegments, 7);
    EXPECT_EQ(b.MaxSimulDownlads, 42);
    EXPECT_EQ(b.UseSpeedLimiter, -1);
    EXPECT_EQ(b.SpeedLimiter, 512);
    EXPECT_EQ(b.Schedule, -1);
    EXPECT_EQ(b.ScheduleOption, 1);
    EXPECT_EQ(b.AutoCloseInternet, -1);
    EXPECT_EQ(b.AutoShutDownComputer, -1);
    EXPECT_EQ(b.ProxyHTTP, -1);
    EXPECT_EQ(b.ProxyFTP, -1);
    EXPECT_EQ(b.ProxyServer, s.ProxyServer);
    EXPECT_EQ(b.ProxyPort, 40000);
    EXPECT_EQ(b.ProxyUser + b.ProxyPassword + b.SocksServer + b.SocksUser + b.SocksPassword,
              QStringLiteral("annpw 1127.0.0.1bobpw 2"));
    EXPECT_EQ(QList<int>({b.SocksVersion, b.SocksPort, b.SystemProxy}), QList<int>({5, 40001, -1}));
    EXPECT_EQ(b.BrowserIEIntegrationMode, 2);
    EXPECT_EQ(b.ScheduleDate, s.ScheduleDate);
    EXPECT_EQ(QList<int>({b.Notifications, b.StayAwake, b.SortByKind}), QList<int>({-1, -1, -1}));
    EXPECT_EQ(b.SortMusic + u'|' + b.SortDiskImages, QStringLiteral("mp3 ogg|iso"));
    // Changing these runs something outside the settings: the window does it.
    OptionsForm f = FormFromSettings(s);
    f.chromiumFamily = false;
    f.firefox = f.seaMonkey = true;
    EXPECT_EQ(CheckOptionsForm(f, current, Now).settings.BrowserIEIntegration, -1);
    EXPECT_EQ(CheckOptionsForm(f, current, Now).settings.BroswerFirefoxIntegration, 0);
    EXPECT_EQ(CheckOptionsForm(f, current, Now).settings.Language, QStringLiteral("english"));
    f.integrationMode = -1;  // none selected: unchanged
    EXPECT_EQ(CheckOptionsForm(f, current, Now).settings.BrowserIEIntegrationMode, 0);
    // The system's settings leave the greyed servers unchecked; SOCKS4 keeps no login.
    f.socksVersion = 4;
    f.socksServer.clear();
    f.socksPort.clear();
    const Settings socks4 = CheckOptionsForm(f, current, Now).settings;
    EXPECT_EQ(socks4.SocksUser + socks4.SocksPassword, QString());
    EXPECT_EQ(socks4.SocksPort, 1080);

    // A port above the signed 16-bit range goes through the store too.
    Sandbox store;
    {
        SettingsStore ini(store.file(QStringLiteral("Velmora.ini")));
        ASSERT_TRUE(SaveSettings(b, ini));
    }
    SettingsStore ini(store.file(QStringLiteral("Velmora.ini")));
    Settings loaded;
    LoadSettings(loaded, ini, box.path(), OleDate::fromDateTime(Now));
    EXPECT_EQ(loaded.ProxyPort, 40000);
    EXPECT_EQ(loaded.SpeedLimiter, 512);
}

TEST(BrowserHookFiles, ModeAndMenuEntryAsTheLauncherReadsThem) {
    Sandbox box;
    EXPECT_EQ(ReadIeModeFile(box.path()), 0) << "missing";
    for (int mode : {3, 0, 2, 1}) {
        ASSERT_TRUE(WriteIeModeFile(box.path(), mode));
        EXPECT_EQ(ReadIeModeFile(box.path()), mode);
        EXPECT_EQ(ReadFile(box.file(QStringLiteral("iemode.dat"))),
                  QByteArray::number(mode) + "\r\n");
    }
    for (const char* bad : {"4\r\n", "-1", "two", ""}) {
        ASSERT_TRUE(WriteFile(box.file(QStringLiteral("iemode.dat")), bad));
        EXPECT_EQ(ReadIeModeFile(box.path()), 0) << bad;
    }
    EXPECT_FALSE(ContextMenuInstalled(box.path()));
    EXPECT_TRUE(WriteContextMenuFile(box.path(), true));
    EXPECT_TRUE(ContextMenuInstalled(box.path()));
    EXPECT_TRUE(WriteContextMenuFile(box.path(), false));
    EXPECT_TRUE(WriteContextMenuFile(box.path(), false)) << "already gone";
    EXPECT_FALSE(ContextMenuInstalled(box.path()));
}
