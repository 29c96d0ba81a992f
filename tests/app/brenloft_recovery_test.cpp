#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/download_list/download_list.h"
#include "tests/app/brenloft_program.h"
#include "tests/support/nginx_peer.h"

namespace {

// A download that takes some seconds: four segments of 256 KiB/s each.
constexpr qint64 SlowRate = 256 * 1024;

struct SlowServer {
    Sandbox www;
    Sandbox logs;
    QByteArray bytes;
    NginxPeer nginx{www.path()};
    int idleSockets = 0;

    explicit SlowServer(qsizetype size) : bytes(RandomBytes(size)) {}
    bool start() {
        if (!WriteFile(www.file(QStringLiteral("big.bin")), bytes)) {
            return false;
        }
        nginx.addLocation(
            SlowLoggedLocation(QStringLiteral("/slow/"), www.path(), SlowRate, log()));
        if (!nginx.start()) {
            return false;
        }
        idleSockets = OpenSockets(nginx.pid());
        return idleSockets > 0;
    }
    QString url() const { return nginx.url(QStringLiteral("/slow/big.bin")); }
    QString log() const { return logs.file(QStringLiteral("access.log")); }
    // Every connection is closed and so every request logged.
    bool settled() {
        return WaitFor([&] { return OpenSockets(nginx.pid()) == idleSockets; });
    }
    qint64 logSize() const { return QFileInfo(log()).size(); }
    // Bytes sent since the log had `from` bytes, once every connection is closed.
    qint64 servedSince(qint64 from) { return settled() ? LoggedBodyBytes(log(), from) : -1; }
};

// A resumed download asks only for what its entry lacks; beyond that it costs at most the
// first second of the probe connection, which nginx sends before the probe closes it.
qint64 ResumeAllowance(const DownloadRecord& saved, qint64 size) {
    return size - saved.BytesDone.bytes() + 2 * SlowRate;
}

}  // namespace

TEST(BrenloftRecovery, AQuitDuringADownloadPausesItAndItGoesOnWhereItStopped) {
    SlowServer server(4 << 20);
    ASSERT_TRUE(server.start()) << server.nginx.error().toStdString();
    const QString url = server.url();
    BrenloftHome home;

    {
        BrenloftRun run(home);
        ASSERT_TRUE(run.start({url}));
        ASSERT_TRUE(
            WaitFor([&] { return WrittenBytesIn(home.path(QStringLiteral("tmp"))) >= (1 << 20); },
                    std::chrono::seconds(15)));
        ASSERT_TRUE(run.stopWith(SIGTERM));
        EXPECT_TRUE(run.endedCleanly());
    }
    DownloadListState list;
    ASSERT_TRUE(home.savedList(list));
    ASSERT_EQ(list.DownloadCount, 1);
    const DownloadRecord paused = list.DownloadList[1];
    EXPECT_EQ(paused.Url, url);
    EXPECT_EQ(StateOf(paused), ListEntryState::Paused);
    EXPECT_GT(paused.SegmentCount, 1);
    EXPECT_GT(paused.BytesDone.bytes(), 0);

    ASSERT_TRUE(server.settled());
    const qint64 logged = server.logSize();
    // Adding the address of a paused entry again goes on with that entry.
    BrenloftRun run(home);
    ASSERT_TRUE(run.start({url}));
    EXPECT_TRUE(
        WaitFor([&] { return HoldsBytes(home.downloads(QStringLiteral("big.bin")), server.bytes); },
                std::chrono::seconds(30)));
    ASSERT_TRUE(run.stopWith(SIGTERM));
    EXPECT_TRUE(run.endedCleanly());
    const qint64 allowance = ResumeAllowance(paused, server.bytes.size());
    ASSERT_TRUE(home.savedList(list));
    EXPECT_EQ(list.DownloadCount, 1);
    EXPECT_EQ(StateOf(list.DownloadList[1]), ListEntryState::Finished);
    const qint64 served = server.servedSince(logged);
    EXPECT_GT(served, 0);
    EXPECT_LE(served, allowance) << "the second run fetched only what was missing";
}

TEST(BrenloftRecovery, AKilledDownloadComesBackPausedAndResumesToTheSameBytes) {
    // Long enough that the first periodic save finds it running.
    SlowServer server(8 << 20);
    ASSERT_TRUE(server.start()) << server.nginx.error().toStdString();
    const QString url = server.url();
    BrenloftHome home;

    DownloadRecord running;
    {
        BrenloftRun run(home);
        ASSERT_TRUE(run.start({url}));
        ASSERT_TRUE(WaitFor(
            [&] {
                DownloadListState list;
                if (!home.savedList(list) || list.DownloadCount != 1) {
                    return false;
                }
                running = list.DownloadList[1];
                return running.Running == FlagTrue && running.BytesDone.bytes() > 0;
            },
            std::chrono::seconds(20)));
        ASSERT_TRUE(run.kill());
        EXPECT_FALSE(run.endedCleanly());
    }
    ASSERT_GT(running.SegmentCount, 1);

    // Started again without an address: the entry waits, paused, with what it had.
    {
        BrenloftRun run(home);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.stopWith(SIGTERM)) << "the new start took over the lock of the dead one";
        EXPECT_TRUE(run.endedCleanly());
    }
    DownloadListState list;
    ASSERT_TRUE(home.savedList(list));
    ASSERT_EQ(list.DownloadCount, 1);
    const DownloadRecord paused = list.DownloadList[1];
    EXPECT_EQ(StateOf(paused), ListEntryState::Paused);
    EXPECT_EQ(paused.SegmentCount, running.SegmentCount);
    EXPECT_EQ(paused.BytesDone.bytes(), running.BytesDone.bytes());
    EXPECT_FALSE(QFile::exists(home.downloads(QStringLiteral("big.bin"))));

    ASSERT_TRUE(server.settled());
    const qint64 logged = server.logSize();
    BrenloftRun run(home);
    ASSERT_TRUE(run.start({url}));
    EXPECT_TRUE(
        WaitFor([&] { return HoldsBytes(home.downloads(QStringLiteral("big.bin")), server.bytes); },
                std::chrono::seconds(40)));
    ASSERT_TRUE(run.stopWith(SIGTERM));
    EXPECT_TRUE(run.endedCleanly());
    ASSERT_TRUE(home.savedList(list));
    EXPECT_EQ(StateOf(list.DownloadList[1]), ListEntryState::Finished);
    const qint64 served = server.servedSince(logged);
    EXPECT_GT(served, 0);
    EXPECT_LE(served, ResumeAllowance(running, server.bytes.size()))
        << "the last run fetched only what was missing";
}
