// brenloft-get downloading into a small tmpfs: a disk too small says so before a byte is
// fetched; on one with room, another program filling it during the download cannot stop it,
// since the download's file took its room up front.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

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

TEST(DiskFull, TooSmallSaysSoAtOnceAndRoomTakenUpFrontCannotBeFilled) {
    Sandbox box;
    for (const char* folder : {"home", "served", "out"}) {
        ASSERT_TRUE(QDir().mkpath(box.file(QLatin1String(folder))));
    }
    const QString target = box.file(QStringLiteral("out"));
    SmallDisk disk(target);
    if (!disk.mount(4)) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
    const QByteArray data = RandomBytes(6 * 1024 * 1024);
    ASSERT_TRUE(WriteFile(box.file(QStringLiteral("served/big.bin")), data));
    NginxPeer nginx(box.file(QStringLiteral("served")));
    nginx.logRequests();
    // Eight connections at 256 KiB/s: about three seconds, time to fill the disk meanwhile.
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), 256 * 1024);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString url = nginx.url(QStringLiteral("/slow/big.bin"));
    const QStringList arguments = EightSegmentsInto(target, url);

    const GetRun refused = RunGet(box, arguments, box.path());
    ASSERT_TRUE(refused.finished);
    EXPECT_EQ(refused.exitCode, 1);
    ASSERT_EQ(refused.err.size(), 1) << refused.err.join(u'\n').toStdString();
    EXPECT_TRUE(refused.err.last().contains(url + QStringLiteral(": not enough space in ")) &&
                refused.err.last().contains(QStringLiteral(" needed, ")))
        << refused.err.last().toStdString();
    EXPECT_EQ(nginx.accessLog().size(), 1) << "only the probe asked the server";
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/big.bin")));

    ASSERT_TRUE(disk.resize(10));
    QProcess run;
    PrepareGet(run, box, box.path());
    ASSERT_TRUE(StartGet(run, arguments));
    const QString temp = target + QStringLiteral("/.brenloft-get/temp");
    ASSERT_TRUE(WaitFor([&] { return nginx.accessLog().size() > 2; }, std::chrono::seconds(30)));
    // Another program takes every byte left.
    QFile filler(target + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(64 * 1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    EXPECT_EQ(FileSha256(target + QStringLiteral("/big.bin")), Sha256(data));
    EXPECT_EQ(QDir(temp).entryList(QDir::Files), QStringList{});
}
