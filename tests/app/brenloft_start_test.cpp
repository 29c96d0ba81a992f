#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "core/download_list/download_list.h"
#include "core/download_list/list_file_format.h"
#include "tests/support/sandbox.h"

namespace {

struct Program {
    Sandbox home;
    QProcess process;

    void start() {
        QDir().mkpath(home.file(QStringLiteral("run")));
        QFile::setPermissions(home.file(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BRENLOFT_HOME"), home.file(QStringLiteral("app")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.file(QStringLiteral("config")));
        // The activation file and everything else of the desktop stay in the sandbox.
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.file(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.file(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(BRENLOFT_EXE), {});
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    QString app(const QString& name) const { return home.file(QStringLiteral("app/") + name); }
    // Whether the program has installed its handler for the signal yet.
    bool catches(int signalNumber) const {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        if (!status.open(QIODevice::ReadOnly)) {
            return false;
        }
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:")) {
                const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
                return (mask >> (signalNumber - 1)) & 1;
            }
        }
        return false;
    }
    void stopWith(int signalNumber) {
        ASSERT_TRUE(WaitFor([&] { return catches(signalNumber); }));
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        ASSERT_TRUE(process.waitForFinished(10000));
    }
};

}  // namespace

TEST(BrenloftStart, CreatesItsFoldersAndSavesTheListWhenTerminated) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        Program p;
        p.start();
        p.stopWith(signalNumber);
        EXPECT_EQ(p.process.exitStatus(), QProcess::NormalExit) << signalNumber;
        EXPECT_EQ(p.process.exitCode(), 0);
        EXPECT_TRUE(QDir(p.app(QStringLiteral("downloads"))).exists());
        EXPECT_TRUE(QDir(p.app(QStringLiteral("temp"))).exists());
        QFile list(p.app(QStringLiteral("Brenloft.dat")));
        ASSERT_TRUE(list.open(QIODevice::ReadOnly));
        EXPECT_EQ(list.size(), 136);
    }
}

TEST(BrenloftStart, KeepsTheEntriesOfAnExistingListAndPausesTheRunningOne) {
    Program p;
    ASSERT_TRUE(QDir().mkpath(p.app(QString())));
    DownloadListState list;
    DownloadRecord r;
    r.Url = QStringLiteral("http://127.0.0.1/file.bin");
    r.Active = FlagTrue;
    r.Running = FlagTrue;
    list.DownloadList.append(r);
    list.DownloadCount = 1;
    ASSERT_EQ(SaveList(list, p.app(QStringLiteral("Brenloft.dat"))), QString());

    p.start();
    p.stopWith(SIGTERM);
    // Read the raw file: loading it again would pause the entry by itself.
    QFile file(p.app(QStringLiteral("Brenloft.dat")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    DownloadListState saved;
    ASSERT_TRUE(DecodeListFile(file.readAll(), saved).complete);
    ASSERT_EQ(saved.DownloadCount, 1);
    EXPECT_EQ(saved.DownloadList[1].Url, r.Url);
    EXPECT_EQ(saved.DownloadList[1].Paused, FlagTrue);
    EXPECT_EQ(saved.DownloadList[1].Running, FlagFalse);
}
