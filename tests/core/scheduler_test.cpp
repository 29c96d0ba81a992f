// The scheduler tick's decisions that need no window: the hand-off file of a second start,
// the clipboard watch, the smoothed speed with its tray level, and the status texts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <ostream>
#include <tuple>
#include <vector>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/transfer_rate.h"
#include "core/scheduler/clipboard_watch.h"
#include "core/scheduler/hand_off_file.h"
#include "core/scheduler/network_pause.h"
#include "core/scheduler/speed_meter.h"
#include "core/scheduler/status_texts.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "tests/support/text_printer.h"

namespace {

class HandOffFile : public ::testing::Test {
protected:
    QString write(const QByteArray& contents) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
        return path;
    }

    // What the program adds from the file's first line; the file is gone after.
    std::optional<QString> takeUrl() {
        const std::optional<QStringList> lines = TakeHandOffLines(path);
        return lines && !lines->isEmpty() ? HandOffUrl(lines->first()) : std::nullopt;
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("templine.dat"));
};

}  // namespace

TEST_F(HandOffFile, QuotedAddressIsTakenAndTheFileDeleted) {
    write("\"http://127.0.0.1/My File.zip\"\r\nsecond line\r\n");
    EXPECT_EQ(takeUrl(), QStringLiteral("http://127.0.0.1/My%20File.zip"));
    EXPECT_FALSE(QFile::exists(path));

    write("  \"ftp://host/pub/a.bin\"  \n");
    EXPECT_EQ(takeUrl(), QStringLiteral("ftp://host/pub/a.bin"));
    EXPECT_FALSE(QFile::exists(path));

    write("\"https://host:8443/a b.iso\"\r\n");
    EXPECT_EQ(takeUrl(), QStringLiteral("https://host:8443/a%20b.iso"));
    EXPECT_FALSE(QFile::exists(path));

    // For the torrent program, as it was given.
    write("\"magnet:?xt=urn:btih:ab&dn=a+b\"\r\n");
    EXPECT_EQ(takeUrl(), QStringLiteral("magnet:?xt=urn:btih:ab&dn=a+b"));
}

TEST_F(HandOffFile, AnythingElseIsDeletedWithoutAnAddress) {
    for (const QByteArray& contents :
         {QByteArray("/silent\r\n"), QByteArray("HTTP://host/upper.zip\r\n"),
          QByteArray("HTTPS://host/upper.zip"), QByteArray("ftps://host/a.bin"),
          QByteArray("Ftp://host/a.bin"), QByteArray("mailto:someone@host"), QByteArray()}) {
        SCOPED_TRACE(contents.toStdString());
        write(contents);
        EXPECT_EQ(takeUrl(), std::nullopt);
        EXPECT_FALSE(QFile::exists(path));
    }
    // No file, no address, and no file made.
    EXPECT_EQ(takeUrl(), std::nullopt);
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(HandOffFile, LaterStartsAppendAndTheProgramTakesEveryLineOnce) {
    const HandOffLock lock(dir.path(), HandOffLock::Wait::No);
    ASSERT_TRUE(lock.held());
    ASSERT_EQ(AppendHandOffLines(path, {QStringLiteral("http://h/1.bin")}), QString());
    ASSERT_EQ(AppendHandOffLines(path, {QStringLiteral("--add"), QStringLiteral("ftp://h/2")}),
              QString());
    EXPECT_EQ(TakeHandOffLines(path),
              QStringList({QStringLiteral("http://h/1.bin"), QStringLiteral("--add"),
                           QStringLiteral("ftp://h/2")}));
    EXPECT_EQ(TakeHandOffLines(path), std::nullopt);
}

TEST(NetworkPause, OnlyWhatTheLossPausedAndStillWaitsStartsAgain) {
    DownloadListState list;
    for (int slot = 1; slot <= 6; ++slot) {
        DownloadRecord r;
        r.Url = QStringLiteral("http://h/%1.bin").arg(slot);
        EnterList(r);
        if (slot <= 5) {  // 6 is put off: "Download Later !"
            MarkStarted(r);
        }
        list.DownloadList.append(r);
    }
    list.DownloadCount = 6;
    for (int slot = 1; slot <= 5; ++slot) {
        MarkPaused(list.DownloadList[slot]);  // 5 by the user, before the loss
    }
    NetworkPause pause;
    pause.lost(list, {1, 2, 3, 4});
    MarkStarted(list.DownloadList[2]);        // the user resumed it meanwhile
    MarkRemovedByUser(list.DownloadList[3]);  // or deleted it
    list.DownloadList[4].Url = QStringLiteral("http://h/other.bin");  // the slot was reused
    EXPECT_EQ(pause.back(list), std::vector<int>{1});
}

namespace {

class Clipboard : public ::testing::Test {
protected:
    // The options as a first start has them: the watch on, the usual page extensions ignored.
    Clipboard() {
        LoadSettings(settings, SettingsStore(home.filePath(QStringLiteral("none.ini"))),
                     home.path());
    }

    void listed(const QString& url, std::int16_t active = FlagTrue) {
        DownloadRecord r;
        r.Url = url;
        r.Active = active;
        list.DownloadList.append(r);
        list.DownloadCount = static_cast<std::int16_t>(list.DownloadList.size() - 1);
    }

    // The first address offered, as a one-line copy gives.
    std::optional<QString> copy(const QString& text) {
        const QStringList offers = watch.considerAll(text, list, settings);
        return offers.isEmpty() ? std::nullopt : std::optional<QString>(offers.first());
    }

    QTemporaryDir home;
    ClipboardWatch watch;
    DownloadListState list;
    Settings settings;
};

}  // namespace

TEST_F(Clipboard, AFileAddressIsOfferedOnceWhileTheClipboardHoldsIt) {
    const QString url = QStringLiteral("http://127.0.0.1/files/archive.zip");
    EXPECT_EQ(copy(url), url);
    // Every later tick sees the same text: declined or not, it is not offered again.
    EXPECT_EQ(copy(url), std::nullopt);
    EXPECT_EQ(copy(url), std::nullopt);

    // Something else was copied in between: the same address is new again.
    EXPECT_EQ(copy(QStringLiteral("some words")), std::nullopt);
    EXPECT_EQ(copy(url), url);
    // Not a magnet link, which never joins the list: that is offered once for the run.
    const QString magnet = QStringLiteral("magnet:?xt=urn:btih:ab&dn=a+b");
    EXPECT_EQ(copy(QStringLiteral(" ") + magnet), magnet);
    EXPECT_EQ(copy(url), url);
    EXPECT_EQ(copy(magnet), std::nullopt);
}

TEST_F(Clipboard, EveryAddressLineOfATextIsOfferedOnce) {
    // Each line that is a file's address, in order, each once; the text is examined once.
    listed(QStringLiteral("http://host/listed.zip"));
    const QString text = QStringLiteral(
        "http://host/a b.zip\nmore text\r\n  ftp://host/pub/c.bin\rhttp://host/folder/\n"
        "http://host/page.htm\nhttp://host/listed.zip\nhttp://host/a%20b.zip\nhttp://host/d.iso");
    EXPECT_EQ(watch.considerAll(text, list, settings),
              (QStringList{"http://host/a%20b.zip", "ftp://host/pub/c.bin", "http://host/d.iso"}));
    EXPECT_EQ(watch.considerAll(text, list, settings), QStringList{});
    EXPECT_EQ(copy(QStringLiteral("  ftp://host/pub/e.bin\r\nx")),
              QStringLiteral("ftp://host/pub/e.bin"));
}

TEST_F(Clipboard, OnlyNewFileAddressesOfInterestAreOffered) {
    listed(QStringLiteral("http://host/listed.zip"));
    listed(QStringLiteral("http://host/removed.zip"), FlagFalse);
    struct Case {
        const char* text;
        bool offered;
    };
    for (const Case& c : {
             Case{"http://host/page.htm", false},
             Case{"http://host/page.HTML", false},
             Case{"http://host/script.php", false},
             Case{"http://host/setup.exe", true},
             Case{"http://host/folder/", false},
             Case{"ftp://host/folder\\", false},
             Case{"HTTP://HOST/LISTED.ZIP", false},
             Case{"http://host/removed.zip", true},
             Case{"HTTP://host/upper.zip", false},
             Case{"file:///tmp/a.zip", false},
             Case{"http://host/download", true},
             Case{"https://host/setup.exe", true},
             Case{"https://host:8443/a.iso", true},
             Case{"https://host/page.html", false},
             Case{"https://host/folder/", false},
             Case{"HTTPS://host/upper.zip", false},
             Case{"Https://host/upper.zip", false},
             Case{"httpss://host/a.zip", false},
         }) {
        SCOPED_TRACE(c.text);
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(copy(text).has_value(), c.offered);
    }
}

TEST_F(Clipboard, IgnoredExtensionsAreTheUsersListAsTyped) {
    settings.IgnoreString = QStringLiteral("zip, exe ,,");
    EXPECT_EQ(copy(QStringLiteral("http://host/a.ZIP")), std::nullopt);
    EXPECT_EQ(copy(QStringLiteral("http://host/b.exe")), std::nullopt);
    EXPECT_EQ(copy(QStringLiteral("http://host/c.htm")), QStringLiteral("http://host/c.htm"));
    // An empty entry ignores nothing, not even an address ending in a dot.
    EXPECT_EQ(copy(QStringLiteral("http://host/d.")), QStringLiteral("http://host/d."));
}

TEST_F(Clipboard, NothingIsLookedAtWhileTheWatchIsOff) {
    const QString url = QStringLiteral("http://host/a.zip");
    settings.CheckClipboard = FlagFalse;
    EXPECT_EQ(copy(url), std::nullopt);
    // Switched on, the text that was there all along is new to the watch.
    settings.CheckClipboard = FlagTrue;
    EXPECT_EQ(copy(url), url);
    EXPECT_EQ(copy(QString()), std::nullopt);
}

namespace {

DownloadListState Running(std::initializer_list<std::pair<std::int64_t, float>> entries) {
    DownloadListState list;
    for (const auto& [bytes, seconds] : entries) {
        DownloadRecord r;
        r.Active = FlagTrue;
        r.Running = FlagTrue;
        r.BytesDone = Currency::fromBytes(bytes);
        r.ElapsedSeconds = seconds;
        list.DownloadList.append(r);
    }
    list.DownloadCount = static_cast<std::int16_t>(list.DownloadList.size() - 1);
    return list;
}

}  // namespace

// Known once a second of transfer is counted: a first read of what the socket buffered during
// the request would read as hundreds of MB/s with no time left.
TEST(TransferRate, KnownAfterASecondOfTransfer) {
    for (const auto& [seconds, rate, left] : std::vector<std::tuple<float, double, double>>{
             {0.004f, -1, -1}, {0.999f, -1, -1}, {1.0f, 1'600'000, 61.5}, {4.0f, 400'000, 246}}) {
        DownloadRecord r;
        r.BytesDone = Currency::fromBytes(1'600'000);
        r.FileSize = Currency::fromBytes(100'000'000);
        r.ElapsedSeconds = seconds;
        EXPECT_EQ(TransferRate(r).value_or(-1), rate) << seconds;
        EXPECT_EQ(TransferTimeLeft(r).value_or(-1), left) << seconds;
    }
}

TEST(SpeedMeter, TrayLevelFollowsTheShareOfTheFastestSpeed) {
    const DownloadListState idle;
    SpeedMeter meter;
    EXPECT_EQ(meter.trayLevel(), 0) << "before any tick";
    // The running downloads' rates added up, shown as they are; one of them has transfer time.
    meter.update(Running({{100000, 10.0f}, {50000, 0.0f}}), 100000);
    EXPECT_EQ(meter.speed(), 100000.0f);
    EXPECT_EQ(meter.activeCount(), 1);
    EXPECT_EQ(meter.trayLevel(), 4);
    // Slower: the level is the share of the fastest speed seen, times 4.5, rounded down.
    std::vector<int> levels;
    for (const double rate : {85000, 64000, 25600, 10240}) {
        meter.update(idle, rate);
        levels.push_back(meter.trayLevel());
    }
    EXPECT_EQ(levels, (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(meter.maxSpeed(), 100000);
    meter.update(idle, 0);
    EXPECT_EQ(meter.speed(), 1.0f) << "never exactly nothing";
}

TEST(SpeedMeter, TrayLevelIsTheShareOfThePeakTimesFourAndAHalf) {
    EXPECT_EQ(TrayLevel(40, 100), 1);
    EXPECT_EQ(TrayLevel(88, 100), 3);
    EXPECT_EQ(TrayLevel(89, 100), 4);
    EXPECT_EQ(TrayLevel(100, 100), 4) << "4.5 is limited to 4";
    EXPECT_EQ(TrayLevel(250, 100), 4);
    EXPECT_EQ(TrayLevel(22, 100), 0);
    EXPECT_EQ(TrayLevel(0, 100), 0);
    EXPECT_EQ(TrayLevel(0, 0), 0);
    EXPECT_EQ(TrayLevel(500, 0), 0) << "no peak yet";
}

TEST(StatusTexts, AreBuiltFromTheInterfaceTexts) {
    TextTable texts;
    texts.set(0, QStringLiteral("bytes"));
    texts.set(1, QStringLiteral("KB"));
    texts.set(2, QStringLiteral("MB"));
    texts.set(667, QStringLiteral("Speed:"));
    texts.set(668, QStringLiteral("Total:"));
    texts.set(705, QStringLiteral("active downloads"));

    EXPECT_EQ(StatusTotalText(1572864, texts), QStringLiteral("Total: 1.5 MB  "));
    EXPECT_EQ(StatusTotalText(999, texts), QStringLiteral("Total: 999 bytes  "));
    // More than 32 bits of bytes still read right.
    texts.set(3, QStringLiteral("GB"));
    EXPECT_EQ(StatusTotalText(std::int64_t(5) << 30, texts), QStringLiteral("Total: 5 GB  "));

    const QString speed = StatusSpeedText(12.9f * 1024, texts);
    EXPECT_EQ(speed, QStringLiteral("Speed: 12 KB/s "));
    EXPECT_EQ(StatusSpeedText(1, texts), QStringLiteral("Speed: 0 KB/s "));
    EXPECT_EQ(TrayTipText(2, speed, texts),
              QStringLiteral("Brenloft active downloads (2) Speed: 12 KB/s "));

    // A label that brings its own blank gets no second one.
    texts.set(667, QStringLiteral("Vitesse : "));
    EXPECT_EQ(StatusSpeedText(2048, texts), QStringLiteral("Vitesse : 2 KB/s "));
}
