// The desktop program killed with SIGKILL at twenty random moments of one 200 MiB download
// over eight segments into one file, and once more after that file took its name but before
// the list said so, started again with the same address each time: the list it leaves always
// loads, and the file ends whole with no part file left.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <random>

#include "core/download_list/download_list.h"
#include "tests/app/brenloft_program.h"
#include "tests/support/nginx_peer.h"

namespace {

constexpr int Kills = 20;
constexpr qint64 Size = 200 * 1024 * 1024;

enum class Moment { Finished, TimeUp, Moved };

// Runs the event loop until the list says the download is complete, `ms` pass, or (with a
// target named) the file is in place before the list says so.
Moment WaitForMoment(const BrenloftHome& home, int ms, const QString& target) {
    QElapsedTimer clock;
    clock.start();
    Moment moment = Moment::TimeUp;
    WaitFor(
        [&] {
            DownloadListState list;
            if (home.savedList(list) && list.DownloadCount == 1 &&
                list.DownloadList[1].Completed == FlagTrue) {
                moment = Moment::Finished;
                return true;
            }
            if (!target.isEmpty() && QFileInfo::exists(target)) {
                moment = Moment::Moved;
                return true;
            }
            return clock.elapsed() >= ms;
        },
        std::chrono::milliseconds(ms + 1000));
    return moment;
}

}  // namespace

TEST(BrenloftKills, TwentyKillsNeverCostTheFile) {
    Sandbox www;
    const QByteArray data = RandomBytes(Size);
    ASSERT_TRUE(WriteFile(www.file(QStringLiteral("big.bin")), data));
    NginxPeer nginx(www.path());
    // Eight connections at 512 KiB/s: about 50 s uninterrupted.
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), 512 * 1024);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString url = nginx.url(QStringLiteral("/slow/big.bin"));

    BrenloftHome home;
    home.setOption(QStringLiteral("MaxSegments"), QStringLiteral("8"));
    const QString target = home.downloads(QStringLiteral("big.bin"));
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> moments(300, 8000);
    int kills = 0;
    bool movedKilled = false;
    for (;;) {
        ASSERT_LE(kills, Kills + 1) << "the run after the last kill did not finish the file";
        BrenloftRun run(home);
        ASSERT_TRUE(run.start({url}));
        const int ms = kills < Kills ? moments(random) : 180000;
        const Moment moment = WaitForMoment(home, ms, movedKilled ? QString() : target);
        if (moment == Moment::Finished) {
            ASSERT_TRUE(run.stopWith(SIGTERM));
            EXPECT_TRUE(run.endedCleanly());
            break;
        }
        ASSERT_TRUE(kills < Kills || moment == Moment::Moved)
            << "not finished " << ms << " ms after the last kill";
        ASSERT_TRUE(run.kill());
        ++kills;
        movedKilled = movedKilled || moment == Moment::Moved;
        DownloadListState list;
        EXPECT_EQ(LoadList(list, home.listFile()).error, QString())
            << "after kill " << kills << " at " << ms << " ms";
    }
    EXPECT_TRUE(movedKilled) << "the run to be killed before its last save ended first";
    EXPECT_TRUE(HoldsBytes(home.downloads(QStringLiteral("big.bin")), data))
        << "after " << kills << " kills";
    EXPECT_EQ(QDir(home.path(QStringLiteral("tmp"))).entryList(QDir::Files), QStringList{});
    EXPECT_EQ(QDir(home.path(QStringLiteral("dl"))).entryList(QDir::Files),
              QStringList{QStringLiteral("big.bin")});
}
