#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "core/download_list/download_list.h"
#include "tests/app/brenloft_program.h"

TEST(BrenloftStart, CreatesItsFoldersAndSavesTheListWhenTerminated) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        BrenloftHome home;
        BrenloftRun run(home);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.stopWith(signalNumber));
        EXPECT_TRUE(run.endedCleanly()) << signalNumber;
        EXPECT_TRUE(QDir(home.app(QStringLiteral("downloads"))).exists());
        EXPECT_TRUE(QDir(home.app(QStringLiteral("temp"))).exists());
        QFile list(home.listFile());
        ASSERT_TRUE(list.open(QIODevice::ReadOnly));
        EXPECT_EQ(list.size(), 136);
    }
}

TEST(BrenloftStart, KeepsTheEntriesOfAnExistingListAndPausesTheRunningOne) {
    BrenloftHome home;
    ASSERT_TRUE(QDir().mkpath(home.app()));
    DownloadListState list;
    DownloadRecord r;
    r.Url = QStringLiteral("http://127.0.0.1/file.bin");
    r.Active = FlagTrue;
    r.Running = FlagTrue;
    list.DownloadList.append(r);
    list.DownloadCount = 1;
    ASSERT_EQ(SaveList(list, home.listFile()), QString());

    BrenloftRun run(home);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.stopWith(SIGTERM));
    DownloadListState saved;
    ASSERT_TRUE(home.savedList(saved));
    ASSERT_EQ(saved.DownloadCount, 1);
    EXPECT_EQ(saved.DownloadList[1].Url, r.Url);
    EXPECT_EQ(StateOf(saved.DownloadList[1]), ListEntryState::Paused);
}

TEST(BrenloftStart, RecordsItsFolderAndPointsTheActivationFileAtItself) {
    BrenloftHome home;
    // Left by a copy of the program that lived elsewhere: it must not keep the old path.
    const QString service =
        home.path(QStringLiteral("data/dbus-1/services/VelmoraProject.Velmora.service"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(service).absolutePath()));
    ASSERT_TRUE(WriteFile(service,
                          "[D-BUS Service]\nName=VelmoraProject.Velmora\n"
                          "Exec=/opt/elsewhere/Brenloft\n"));

    BrenloftRun run(home);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.stopWith(SIGTERM));
    EXPECT_TRUE(run.endedCleanly());

    QSettings ini(home.settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("Options/AppPath")).toString(), home.app());
    // What the test wrote is still there beside it.
    EXPECT_EQ(ini.value(QStringLiteral("Options/DownloadFolder")).toString(),
              home.downloads(QString()));

    QFile file(service);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], "[D-BUS Service]");
    EXPECT_TRUE(lines.contains("Name=VelmoraProject.Velmora"));
    QString exec;
    for (const QByteArray& line : lines) {
        if (line.startsWith("Exec=")) {
            EXPECT_TRUE(exec.isEmpty()) << "one Exec line";
            exec = QFile::decodeName(line.mid(5));
        }
    }
    // The bus starts the program from any working folder.
    EXPECT_TRUE(QDir::isAbsolutePath(exec)) << exec.toStdString();
    EXPECT_EQ(QFileInfo(exec).canonicalFilePath(),
              QFileInfo(QStringLiteral(BRENLOFT_EXE)).canonicalFilePath());
}
