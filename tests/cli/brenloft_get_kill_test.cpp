// brenloft-get killed with SIGKILL at twenty random moments of one 200 MiB download over eight
// segments into one file, run again with the same command each time: the list it leaves always
// loads, and the file ends whole, with no part file left behind. (The desktop program's kill
// test also kills it between the file's rename and the list's save, which brenloft-get makes
// at once as it ends.)
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <chrono>
#include <random>

#include "core/download_list/download_list.h"
#include "tests/support/get_command.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

constexpr int Kills = 20;

// Loads a copy, as the program may be replacing the file at the moment of reading.
QString ListLoadError(const QString& listPath, const QString& copy) {
    if (!QFile::exists(listPath)) {
        return {};
    }
    QFile::remove(copy);
    if (!QFile::copy(listPath, copy)) {
        return QStringLiteral("cannot copy the list");
    }
    DownloadListState list;
    return LoadList(list, copy).error;
}

}  // namespace

TEST(BrenloftGetKills, TwentyKillsNeverCostTheFile) {
    Sandbox box;
    for (const char* folder : {"home", "served", "out"}) {
        ASSERT_TRUE(QDir().mkpath(box.file(QLatin1String(folder))));
    }
    constexpr qint64 Size = 200 * 1024 * 1024;
    const QByteArray data = RandomBytes(Size);
    ASSERT_TRUE(WriteFile(box.file(QStringLiteral("served/big.bin")), data));
    const QByteArray sha = Sha256(data);
    NginxPeer nginx(box.file(QStringLiteral("served")));
    // Eight connections at 512 KiB/s: about 50 s uninterrupted, so twenty kills fall all
    // through it.
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), 512 * 1024);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();

    const QString target = box.file(QStringLiteral("out"));
    const QString listPath = ListPathIn(target);
    const QStringList arguments =
        EightSegmentsInto(target, nginx.url(QStringLiteral("/slow/big.bin")));

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> moment(300, 8000);
    int kills = 0;
    int exitCode = -1;
    while (exitCode != 0) {
        ASSERT_LE(kills, Kills + 1) << "the run after the last kill did not finish the file";
        QProcess run;
        PrepareGet(run, box, box.path());
        ASSERT_TRUE(StartGet(run, arguments));
        const int ms = kills < Kills ? moment(random) : 180000;
        const bool ended = run.waitForFinished(ms);
        if (!ended && kills < Kills) {
            run.kill();
            ASSERT_TRUE(run.waitForFinished(10000));
            ++kills;
            const QString error = ListLoadError(listPath, box.file(QStringLiteral("copy")));
            EXPECT_EQ(error, QString()) << "after kill " << kills << " at " << ms << " ms";
            continue;
        }
        if (!ended) {
            run.kill();
            run.waitForFinished(10000);
        }
        exitCode = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
        ASSERT_EQ(exitCode, 0) << "after " << kills
                               << " kills: " << run.readAllStandardError().toStdString();
    }
    EXPECT_EQ(FileSha256(target + QStringLiteral("/big.bin")), sha)
        << "after " << kills << " kills";
    EXPECT_EQ(QDir(target + QStringLiteral("/.brenloft-get/temp")).entryList(QDir::Files),
              QStringList{});
    EXPECT_EQ(QDir(target).entryList(QDir::Files), QStringList{QStringLiteral("big.bin")});
}
