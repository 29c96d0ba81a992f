// brenloft-get killed with SIGKILL at twenty random moments of one 200 MiB download over eight
// segments, and run again with the same command each time: the list it leaves always loads,
// and the file ends whole, with no part file left behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    const QByteArray data = RandomBytes(200 * 1024 * 1024);
    ASSERT_TRUE(WriteFile(box.file(QStringLiteral("served/big.bin")), data));
    const QByteArray sha = Sha256(data);
    NginxPeer nginx(box.file(QStringLiteral("served")));
    // Eight connections at 1 MiB/s: about 25 s uninterrupted, so the kills fall all through it.
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), 1024 * 1024);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();

    const QString target = box.file(QStringLiteral("out"));
    const QString listPath = target + QStringLiteral("/.brenloft-get/Brenloft.dat");
    const QStringList arguments{QStringLiteral("-q"),
                                QStringLiteral("-n"),
                                QStringLiteral("8"),
                                QStringLiteral("-d"),
                                target,
                                nginx.url(QStringLiteral("/slow/big.bin"))};

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> moment(300, 8000);
    int kills = 0;
    int exitCode = -1;
    QString lastError;
    while (exitCode != 0) {
        ASSERT_LT(kills, Kills + 1) << "the run after the last kill did not finish the file";
        QProcess run;
        PrepareGet(run, box, box.path());
        ASSERT_TRUE(StartGet(run, arguments));
        if (kills < Kills) {
            const int ms = moment(random);
            if (!run.waitForFinished(ms)) {
                run.kill();
                ASSERT_TRUE(run.waitForFinished(10000));
                ++kills;
                const QString error = ListLoadError(listPath, box.file(QStringLiteral("copy")));
                EXPECT_EQ(error, QString()) << "after kill " << kills << " at " << ms << " ms";
                continue;
            }
        } else if (!run.waitForFinished(180000)) {
            run.kill();
            run.waitForFinished(10000);
        }
        exitCode = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
        lastError = QString::fromLocal8Bit(run.readAllStandardError());
        ASSERT_EQ(exitCode, 0) << "after " << kills << " kills: " << lastError.toStdString();
    }
    EXPECT_EQ(FileSha256(target + QStringLiteral("/big.bin")), sha)
        << "after " << kills << " kills";
    EXPECT_EQ(QDir(target + QStringLiteral("/.brenloft-get/temp")).entryList(QDir::Files),
              QStringList{});
    EXPECT_EQ(QDir(target).entryList(QDir::Files), QStringList{QStringLiteral("big.bin")});
}
