// Each program's --help, --version and an unknown option, run as the built programs.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "tests/app/brenloft_program.h"

namespace {

struct Ended {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

Ended RunOnce(const QString& program, const QString& argument, const BrenloftHome& home) {
    QProcess process;
    process.setProcessEnvironment(home.environment());
    process.start(program, {argument});
    Ended ended;
    ended.finished = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    if (!ended.finished) {
        process.kill();
        process.waitForFinished(10000);
    }
    ended.exitCode = process.exitCode();
    ended.out = QString::fromUtf8(process.readAllStandardOutput());
    ended.err = QString::fromUtf8(process.readAllStandardError());
    return ended;
}

}  // namespace

TEST(ProgramHelp, HelpVersionAndUnknownOptionOfEveryProgram) {
    const struct {
        const char* name;
        const char* program;
        QStringList options;  // a few that --help must name
    } programs[] = {
        {"Brenloft", BRENLOFT_EXE, {"/silent", "-silent", "-s", "--verbose", "URL", "--version"}},
        {"brenloft-get",
         BRENLOFT_GET_EXE,
         {"-d DIR", "-n SEGMENTS", "-j DOWNLOADS", "--limit", "--proxy", "--user", "--password",
          "--ca-certificate", "--no-check-certificate", "--checksum KIND=HEX",
          "--no-checksum-lookup", "--quiet", "--verbose", "--version"}},
        {"VelmoraLauncher",
         VELMORA_LAUNCHER,
         {"URL", "chrome-extension://", "MANIFEST.json EXTENSION_ID", "--version"}},
        {"updater",
         UPDATER_EXE,
         {"--from FOLDER", "--program PATH", "--wait-pid PID", "--language KEY", "--version"}},
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        const QString name = QString::fromLatin1(p.name);
        const QString usage = QStringLiteral("usage: ") + name;
        BrenloftHome home;
        const auto run = [&](const char* argument) {
            return RunOnce(QString::fromLatin1(p.program), QString::fromLatin1(argument), home);
        };

        const Ended help = run("--help");
        ASSERT_TRUE(help.finished);
        EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
        EXPECT_TRUE(help.out.startsWith(usage)) << help.out.toStdString();
        for (const QString& option : p.options) {
            EXPECT_TRUE(help.out.contains(option)) << option.toStdString();
        }

        const Ended version = run("--version");
        ASSERT_TRUE(version.finished);
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, name + QStringLiteral(" 1.0\n"));

        const Ended unknown = run("--no-such-option");
        ASSERT_TRUE(unknown.finished);
        EXPECT_EQ(unknown.exitCode, 2);
        EXPECT_TRUE(unknown.out.isEmpty()) << unknown.out.toStdString();
        EXPECT_TRUE(unknown.err.contains(QStringLiteral("--no-such-option")));
        EXPECT_TRUE(unknown.err.contains(usage)) << unknown.err.toStdString();

        // None of the three may start the program proper: no application folder, no list, no
        // activation file for the bus.
        EXPECT_FALSE(QFileInfo::exists(home.app()));
        EXPECT_TRUE(QDir(home.path(QStringLiteral("data"))).isEmpty());
    }
}
