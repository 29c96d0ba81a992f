// The updater: in-process with a stand-in system, then the real program once.
#include "updater/update_copy.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "core/text/text_table.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"
#include "tests/update/update_test_tools.h"

namespace {

// Writes the file, making its folders first.
bool Put(const QString& path, const QByteArray& bytes) {
    return QDir().mkpath(QFileInfo(path).absolutePath()) && WriteFile(path, bytes);
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLanguage(texts, QStringLiteral("english"),
                                 {SourcePath(QStringLiteral("data/lang"))}));
        home = box.file(QStringLiteral("home"));
        package = box.file(QStringLiteral("unpacked"));
        // The package as Brenloft unpacked it.
        ASSERT_TRUE(QDir().mkpath(package));
        ASSERT_TRUE(Put(package + QStringLiteral("/bin/Brenloft"), "new program"));
        ASSERT_TRUE(QFile::setPermissions(package + QStringLiteral("/bin/Brenloft"),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        ASSERT_TRUE(Put(package + QStringLiteral("/share/brenloft/lang/english.txt"), "new texts"));
    }

    // An installation with an old program and an old file the package does not name.
    QString install(const QString& prefix) {
        EXPECT_TRUE(QDir().mkpath(prefix + QStringLiteral("/bin")));
        EXPECT_TRUE(Put(prefix + QStringLiteral("/bin/Brenloft"), "old program"));
        EXPECT_TRUE(Put(prefix + QStringLiteral("/share/brenloft/lang/english.txt"), "old"));
        EXPECT_TRUE(Put(prefix + QStringLiteral("/share/brenloft/lang/other.txt"), "kept"));
        return prefix + QStringLiteral("/bin/Brenloft");
    }

    UpdaterSystem system() {
        UpdaterSystem s;
        s.home = home;
        s.waitForExit = [this](qint64 pid) {
            waited << pid;
            return programEnds;
        };
        s.start = [this](const QString& program) {
            started << program;
            return startWorks;
        };
        return s;
    }

    UpdaterArguments arguments(const QString& program) const {
        return UpdaterArguments{package, program, 777, QStringLiteral("english")};
    }

    Sandbox box;
    TextTable texts;
    QString home;
    QString package;
    QList<qint64> waited;
    QStringList started;
    bool programEnds = true;
    bool startWorks = true;
};

TEST_F(UpdaterTest, AHomeInstallationIsUpdatedAndStartedAgain) {
    const QString prefix = home + QStringLiteral("/.local");
    const QString program = install(prefix);

    const UpdateOutcome outcome = RunUpdate(arguments(program), texts, system());
    EXPECT_EQ(outcome.code, UpdateOutcome::Updated) << outcome.message.toStdString();
    EXPECT_EQ(waited, QList<qint64>{777});
    EXPECT_EQ(started, QStringList{program});
    EXPECT_EQ(ReadFile(program), "new program");
    EXPECT_TRUE(QFileInfo(program).isExecutable());
    EXPECT_EQ(ReadFile(prefix + QStringLiteral("/share/brenloft/lang/english.txt")), "new texts");
    EXPECT_EQ(ReadFile(prefix + QStringLiteral("/share/brenloft/lang/other.txt")), "kept");
    EXPECT_TRUE(QDir(prefix + QStringLiteral("/bin"))
                    .entryList({QStringLiteral("*.brenloft-update")}, QDir::Files)
                    .isEmpty());
}

TEST_F(UpdaterTest, LeavesEverythingAsItWasWhenItCannotUpdate) {
    const struct {
        const char* name;
        QString prefix;
        bool programEnds;
        bool emptyPackage;
        int code;
        int text;
    } cases[] = {
        {"installed for the whole system", box.file(QStringLiteral("usr")), true, false,
         UpdateOutcome::SystemWide, 907},
        {"the home folder itself", home, true, false, UpdateOutcome::SystemWide, 907},
        {"Brenloft never ends", home + QStringLiteral("/.local"), false, false,
         UpdateOutcome::StillRunning, 909},
        {"an empty package", home + QStringLiteral("/apps/brenloft"), true, true,
         UpdateOutcome::NotCopied, 908},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString program = install(c.prefix);
        programEnds = c.programEnds;
        started.clear();
        if (c.emptyPackage) {
            ASSERT_TRUE(QDir(package).removeRecursively() && QDir().mkpath(package));
        }
        const UpdateOutcome outcome = RunUpdate(arguments(program), texts, system());
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_TRUE(outcome.message.startsWith(texts.text(c.text)))
            << outcome.message.toStdString();
        EXPECT_EQ(ReadFile(program), "old program");
        EXPECT_EQ(ReadFile(c.prefix + QStringLiteral("/share/brenloft/lang/english.txt")), "old");
        EXPECT_TRUE(started.isEmpty());
    }
}

TEST_F(UpdaterTest, SaysSoWhenTheUpdatedProgramDoesNotStart) {
    const QString program = install(home + QStringLiteral("/.local"));
    startWorks = false;
    const UpdateOutcome outcome = RunUpdate(arguments(program), texts, system());
    EXPECT_EQ(outcome.code, UpdateOutcome::NotRestarted);
    EXPECT_TRUE(outcome.message.startsWith(texts.text(910)));
    EXPECT_EQ(ReadFile(program), "new program");
}

TEST_F(UpdaterTest, InstallationFolders) {
    const QString program = install(home + QStringLiteral("/.local"));
    EXPECT_EQ(InstallationFolder(program),
              QFileInfo(home + QStringLiteral("/.local")).canonicalFilePath());
    // Not in a "bin" folder: the program's own folder.
    ASSERT_TRUE(Put(home + QStringLiteral("/Brenloft-1/Brenloft"), "x"));
    EXPECT_EQ(InstallationFolder(home + QStringLiteral("/Brenloft-1/Brenloft")),
              QFileInfo(home + QStringLiteral("/Brenloft-1")).canonicalFilePath());
}

// The real updater, started as Brenloft starts it: it waits for a process to end, copies,
// and starts the (stand-in) program again.
TEST_F(UpdaterTest, TheRealUpdaterWaitsCopiesAndRestarts) {
    const QString prefix = home + QStringLiteral("/.local");
    install(prefix);
    const QString program = prefix + QStringLiteral("/bin/Brenloft");
    const QString restarted = box.file(QStringLiteral("restarted"));
    // The package's program is the stand-in that notes its start.
    ASSERT_TRUE(WriteStubProgram(package + QStringLiteral("/bin/Brenloft"), restarted));

    QProcess brenloft;  // stands in for the Brenloft that quits after starting the updater
    brenloft.start(QStringLiteral("sleep"), {QStringLiteral("0.5")});
    ASSERT_TRUE(brenloft.waitForStarted());

    QProcess updater;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    updater.setProcessEnvironment(environment);
    updater.start(QStringLiteral(UPDATER_EXE),
                  UpdaterArguments{package, program, brenloft.processId(), QString()}.toList());
    ASSERT_TRUE(updater.waitForStarted());
    ASSERT_TRUE(brenloft.waitForFinished(10000));
    ASSERT_TRUE(updater.waitForFinished(60000));
    EXPECT_EQ(updater.exitCode(), UpdateOutcome::Updated) << updater.readAllStandardError().data();
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(restarted); }));
    EXPECT_EQ(ReadFile(prefix + QStringLiteral("/share/brenloft/lang/english.txt")), "new texts");

    // Installed for everyone: told on stderr, nothing changed.
    const QString system = box.file(QStringLiteral("usr"));
    const QString systemProgram = install(system);
    updater.start(QStringLiteral(UPDATER_EXE),
                  UpdaterArguments{package, systemProgram, 0, QStringLiteral("francais")}.toList());
    ASSERT_TRUE(updater.waitForFinished(60000));
    EXPECT_EQ(updater.exitCode(), UpdateOutcome::SystemWide);
    EXPECT_TRUE(
        QString::fromUtf8(updater.readAllStandardError()).contains(u"gestionnaire de paquets"));
    EXPECT_EQ(ReadFile(systemProgram), "old program");
}

}  // namespace
