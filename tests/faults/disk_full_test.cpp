// brenloft-get downloading into a small tmpfs that fills up: first while the segments are
// written, then during the join, and the list is saved on the full disk each time. The
// download ends with "disk full" and its state kept, the same command continues from the bytes
// stored, and finishes the file once there is room.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "core/download_list/download_list.h"
#include "tests/support/get_command.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

bool Mount(const QStringList& arguments) {
    QProcess mount;
    mount.start(QStringLiteral("mount"), arguments);
    return mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit &&
           mount.exitCode() == 0;
}

// A tmpfs of its own at `path` while the object lives.
class SmallDisk {
public:
    explicit SmallDisk(QString path) : path_(std::move(path)) {}
    ~SmallDisk() {
        if (mounted_) {
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), path_});
        }
    }
    bool mount(int mebibytes) {
        mounted_ = Mount({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                          QStringLiteral("size=%1m,mode=0700").arg(mebibytes),
                          QStringLiteral("tmpfs"), path_});
        return mounted_;
    }
    bool resize(int mebibytes) {
        return Mount(
            {QStringLiteral("-o"), QStringLiteral("remount,size=%1m").arg(mebibytes), path_});
    }

private:
    QString path_;
    bool mounted_ = false;
};

}  // namespace

TEST(DiskFull, DownloadWaitsWithItsStateAndFinishesOnceThereIsRoom) {
    Sandbox box;
    for (const char* folder : {"home", "served", "out"}) {
        ASSERT_TRUE(QDir().mkpath(box.file(QLatin1String(folder))));
    }
    const QString target = box.file(QStringLiteral("out"));
    SmallDisk disk(target);
    if (!disk.mount(4)) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
    // Six MiB: more than the disk at first; then room for the parts but not for the join,
    // which needs the parts and the growing file at once.
    const QByteArray data = RandomBytes(6 * 1024 * 1024);
    ASSERT_TRUE(WriteFile(box.file(QStringLiteral("served/big.bin")), data));
    NginxPeer nginx(box.file(QStringLiteral("served")));
    nginx.logRequests();
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString url = nginx.url(QStringLiteral("/big.bin"));
    const QStringList arguments = EightSegmentsInto(target, url);
    const QString listPath = ListPathIn(target);
    // What the list saved at the failure says the parts hold (-1: no such entry).
    auto storedBytes = [&] {
        DownloadListState list;
        if (!LoadList(list, listPath).error.isEmpty() || list.DownloadCount != 1) {
            return std::int64_t{-1};
        }
        const DownloadRecord& r = list.DownloadList[1];
        const bool kept = r.Active == FlagTrue && r.Completed != FlagTrue && r.SegmentCount == 8;
        return kept ? r.BytesDone.bytes() : -1;
    };
    // The body bytes the segments' range requests were sent since the log's line `from`.
    auto segmentBytesSince = [&](qsizetype from) {
        const QStringList log = nginx.accessLog();
        std::int64_t bytes = 0;
        for (qsizetype i = from; i < log.size(); ++i) {
            const QStringList fields = log[i].split(u' ');
            if (fields.size() > 2 && fields[2] != u"\"bytes=0-\"") {
                bytes += fields[1].toLongLong();
            }
        }
        return bytes;
    };
    std::int64_t stored = 0;
    qsizetype requests = 0;

    for (const int mebibytes : {4, 10}) {
        SCOPED_TRACE(mebibytes);
        ASSERT_TRUE(disk.resize(mebibytes));
        const GetRun run = RunGet(box, arguments, box.path());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 1);
        // One line for the download: the list is saved in the room kept for it.
        ASSERT_EQ(run.err.size(), 1) << run.err.join(u'\n').toStdString();
        EXPECT_TRUE(run.err.last().contains(url + QStringLiteral(": ")) &&
                    run.err.last().contains(QStringLiteral("disk full")))
            << run.err.join(u'\n').toStdString();
        EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/big.bin")));
        if (mebibytes == 10) {
            // The rerun asked only for what the first run's parts did not hold (and what a
            // connection cut short may have been sent again).
            EXPECT_LE(segmentBytesSince(requests), data.size() - stored + 256 * 1024);
        }
        stored = storedBytes();
        requests = nginx.accessLog().size();
        EXPECT_GT(stored, 1024 * 1024) << "the entry waits with its segments and their bytes";
    }

    ASSERT_TRUE(disk.resize(32));
    const GetRun run = RunGet(box, arguments, box.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
    EXPECT_EQ(FileSha256(target + QStringLiteral("/big.bin")), Sha256(data));
    EXPECT_EQ(QDir(target + QStringLiteral("/.brenloft-get/temp")).entryList(QDir::Files),
              QStringList{});
}
