#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "archive/unzip_archive.h"
#include "tests/archive/archive_test_tools.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

struct MadeArchive {
    const char* label;
    QStringList makeCommand;  // run in the source folder; "%A" is the archive's path
    QString password;         // the answer to each password question, if any is asked
};

// Extracted here and by unzip into another folder, each archive gives the same files.
TEST(UnzipArchiveTest, ExtractsWhatUnzipExtracts) {
    const QList<MadeArchive> archives = {
        {"zip deflated", {"zip", "-q", "-r", "%A", "."}, {}},
        {"zip stored", {"zip", "-q", "-r", "-0", "%A", "."}, {}},
        {"zip password", {"zip", "-q", "-r", "-P", "secret", "%A", "."}, "secret"},
        {"python mixed", {"/usr/bin/python3", "extraction_samples.py", "mixed", "%A", "."}, {}},
    };
    for (const MadeArchive& made : archives) {
        SCOPED_TRACE(made.label);
        Sandbox sandbox;
        const QString source = sandbox.file("source");
        MakeSourceTree(source);
        QFile::copy(SourcePath("tests/archive/extraction_samples.py"),
                    source + "/extraction_samples.py");
        const QString archive = sandbox.file("made.zip");
        QStringList command = made.makeCommand;
        command.replaceInStrings("%A", archive);
        ASSERT_EQ(RunTool(command.takeFirst(), command, source), 0);

        const QStringList password =
            made.password.isEmpty() ? QStringList{} : QStringList{"-P", made.password};
        ASSERT_EQ(RunTool("unzip",
                          QStringList{"-q"} + password +
                              QStringList{archive, "-d", sandbox.file("unzip")},
                          sandbox.path()),
                  0);
        ScriptedUnzipPrompts prompts;
        if (!made.password.isEmpty()) {
            prompts.passwords = {made.password};
        }
        const UnzipResult result =
            UnzipArchive(UnzipOptions::ForUpdate(archive, sandbox.file("ours")), prompts);
        EXPECT_EQ(result.code, UnzipCode::kOk) << result.messages.join('\n').toStdString();
        EXPECT_EQ(TreeOf(sandbox.file("ours")), TreeOf(sandbox.file("unzip")));
        EXPECT_EQ(TreeOf(sandbox.file("ours")), TreeOf(source));
        EXPECT_EQ(prompts.passwordQuestions.size(), made.password.isEmpty() ? 0 : 1)
            << "the password that opened one member opens the next without asking";
    }
}

struct ReplaceCase {
    const char* label;
    quint16 ask;
    quint16 overwrite;
    std::deque<ReplaceAnswer> answers;
    int questions;
    QByteArray first, second;  // the two files' contents afterwards
};

TEST(UnzipArchiveTest, ReplacesExistingFilesAsAnsweredOrSet) {
    const QList<ReplaceCase> cases = {
        {"Yes, Yes", 1, 0, {ReplaceAnswer::Replace, ReplaceAnswer::Replace}, 2, "new1", "new2"},
        {"No, Yes", 1, 0, {ReplaceAnswer::Keep, ReplaceAnswer::Replace}, 2, "old", "new2"},
        {"Cancel: none replaced from then on", 1, 0, {ReplaceAnswer::KeepAll}, 1, "old", "old"},
        {"overwrite set: never asked", 1, 1, {}, 0, "new1", "new2"},
        {"neither set: kept unasked", 0, 0, {}, 0, "old", "old"},
    };
    for (const ReplaceCase& test : cases) {
        SCOPED_TRACE(test.label);
        Sandbox sandbox;
        ASSERT_TRUE(WriteFile(sandbox.file("first.txt"), "new1"));
        ASSERT_TRUE(WriteFile(sandbox.file("second.txt"), "new2"));
        ASSERT_EQ(RunTool("zip", {"-q", "a.zip", "first.txt", "second.txt"}, sandbox.path()), 0);
        const QString target = sandbox.file("target");
        ASSERT_TRUE(QDir().mkpath(target));
        ASSERT_TRUE(WriteFile(target + "/first.txt", "old"));
        ASSERT_TRUE(WriteFile(target + "/second.txt", "old"));

        ScriptedUnzipPrompts prompts;
        prompts.replaceAnswers = test.answers;
        UnzipOptions options = UnzipOptions::ForUpdate(sandbox.file("a.zip"), target);
        options.askBeforeOverwriting = test.ask;
        options.overwriteExisting = test.overwrite;
        EXPECT_EQ(UnzipArchive(options, prompts).code, UnzipCode::kOk);
        EXPECT_EQ(prompts.replaceQuestions.size(), test.questions);
        if (test.questions > 0) {
            EXPECT_EQ(prompts.replaceQuestions.first(), target + "/first.txt");
        }
        EXPECT_EQ(ReadFile(target + "/first.txt"), test.first);
        EXPECT_EQ(ReadFile(target + "/second.txt"), test.second);
        EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), 2)
            << "no temporary file left behind";
    }
}

struct PasswordCase {
    const char* label;
    bool bothEncrypted;  // else only a.txt is, and c.txt is plain
    std::deque<QString> answers;
    int code;
    QStringList extracted;
    const char* message;
};

TEST(UnzipArchiveTest, AsksForPasswordsAndSkipsWithoutOne) {
    using namespace UnzipCode;
    const QStringList both = {"a.txt", "c.txt"};
    const QList<PasswordCase> cases = {
        {"right", false, {"secret"}, kOk, both, nullptr},
        {"wrong, then right", false, {"nope", "secret"}, kOk, both, nullptr},
        {"wrong 3 times", false, {"no", "no", "no"}, kWarning, {"c.txt"}, "a.txt: incorrect"},
        {"cancelled", false, {""}, kWarning, {"c.txt"}, "a.txt: skipped, no password"},
        {"cancel holds for b.txt", true, {""}, kWarning, {}, "b.txt: skipped, no password"},
        {"all wrong", true, {"1", "2", "3", "4", "5", "6"}, kBadPassword, {}, "b.txt: incorrect"},
    };
    for (const PasswordCase& test : cases) {
        SCOPED_TRACE(test.label);
        Sandbox sandbox;
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            ASSERT_TRUE(WriteFile(sandbox.file(name), name));
        }
        const QStringList encrypted =
            test.bothEncrypted ? QStringList{"a.txt", "b.txt"} : QStringList{"a.txt"};
        ASSERT_EQ(
            RunTool("zip", QStringList{"-q", "-P", "secret", "p.zip"} + encrypted, sandbox.path()),
            0);
        if (!test.bothEncrypted) {
            ASSERT_EQ(RunTool("zip", {"-q", "p.zip", "c.txt"}, sandbox.path()), 0);
        }
        ScriptedUnzipPrompts prompts;
        prompts.passwords = test.answers;
        const UnzipResult result = UnzipArchive(
            UnzipOptions::ForUpdate(sandbox.file("p.zip"), sandbox.file("out")), prompts);
        EXPECT_EQ(result.code, test.code);
        EXPECT_EQ(result.members, test.extracted);
        EXPECT_TRUE(prompts.passwords.empty()) << "every scripted answer asked for";
        EXPECT_EQ(QDir(sandbox.file("out")).entryList(QDir::Files | QDir::Hidden), test.extracted);
        if (test.message) {
            EXPECT_TRUE(result.messages.join('\n').contains(test.message))
                << result.messages.join('\n').toStdString();
        }
        if (test.extracted.contains("a.txt")) {
            EXPECT_EQ(ReadFile(sandbox.file("out/a.txt")), "a.txt");
        }
    }
}

TEST(UnzipArchiveTest, CancelledPasswordHoldsForThatExtractionOnly) {
    Sandbox sandbox;
    ASSERT_TRUE(WriteFile(sandbox.file("a.txt"), "a"));
    ASSERT_EQ(RunTool("zip", {"-q", "-P", "secret", "p.zip", "a.txt"}, sandbox.path()), 0);
    ScriptedUnzipPrompts prompts;
    prompts.passwords = {"", "secret"};
    const UnzipOptions options =
        UnzipOptions::ForUpdate(sandbox.file("p.zip"), sandbox.file("out"));
    EXPECT_EQ(UnzipArchive(options, prompts).code, UnzipCode::kWarning);
    EXPECT_EQ(UnzipArchive(options, prompts).code, UnzipCode::kOk);
    EXPECT_EQ(prompts.passwordQuestions, QStringList({"a.txt", "a.txt"}));
    EXPECT_EQ(ReadFile(sandbox.file("out/a.txt")), "a");
}

struct SelectionCase {
    const char* label;
    QStringList include, exclude;
    const char* flags;  // l: list only, t: test only, j: no folders, c: case folded
    int code;
    QStringList members;
    QStringList written;  // below the target folder
};

TEST(UnzipArchiveTest, SelectsListsAndTestsMembers) {
    const QStringList all = {"d/", "d/x.txt", "top.txt", "Up.DAT"};
    const QList<SelectionCase> cases = {
        {"wildcards", {"*.txt"}, {}, "", 0, {"d/x.txt", "top.txt"}, {"d", "d/x.txt", "top.txt"}},
        {"exclude a folder", {}, {"d/*"}, "", 0, {"top.txt", "Up.DAT"}, {"Up.DAT", "top.txt"}},
        {"include, case folded", {"up.dat"}, {}, "c", 0, {"Up.DAT"}, {"Up.DAT"}},
        {"include matching nothing", {"top.txt", "nil"}, {}, "", 11, {"top.txt"}, {"top.txt"}},
        {"folders not re-created", {}, {}, "j", 0, all, {"Up.DAT", "top.txt", "x.txt"}},
        {"list only", {}, {}, "l", 0, all, {}},
        {"test only", {}, {}, "t", 0, all, {}},
    };
    for (const SelectionCase& test : cases) {
        SCOPED_TRACE(test.label);
        Sandbox sandbox;
        ASSERT_TRUE(QDir().mkpath(sandbox.file("d")));
        for (const char* name : {"d/x.txt", "top.txt", "Up.DAT"}) {
            ASSERT_TRUE(WriteFile(sandbox.file(name), name));
        }
        ASSERT_EQ(RunTool("zip", {"-q", "-r", "s.zip", "d", "top.txt", "Up.DAT"}, sandbox.path()),
                  0);
        UnzipOptions options = UnzipOptions::ForUpdate(sandbox.file("s.zip"), sandbox.file("out"));
        options.includeNames = test.include;
        options.excludeNames = test.exclude;
        const QByteArray flags = test.flags;
        options.listContents = flags.contains('l');
        options.testOnly = flags.contains('t');
        options.recreateFolders = !flags.contains('j');
        options.caseInsensitiveMatching = flags.contains('c');
        ScriptedUnzipPrompts prompts;
        const UnzipResult result = UnzipArchive(options, prompts);
        EXPECT_EQ(result.code, test.code) << result.messages.join('\n').toStdString();
        EXPECT_EQ(result.members, test.members);
        EXPECT_EQ(TreeOf(sandbox.file("out")).keys(), test.written);
    }
}

}  // namespace

namespace {

struct NewerCase {
    const char* label;
    quint16 onlyNewer, freshen;
    QStringList written;  // the members that reached the folder
};

// An older existing file gives way, a newer one stays; freshening creates nothing new.
TEST(UnzipArchiveTest, UpdatesAndFreshensByTime) {
    const QList<NewerCase> cases = {
        {"extract only newer", 1, 0, {"older.txt", "absent.txt"}},
        {"freshen only", 0, 1, {"older.txt"}},
    };
    const QDateTime archived(QDate(2020, 1, 1), QTime(12, 0));
    for (const NewerCase& test : cases) {
        SCOPED_TRACE(test.label);
        Sandbox sandbox;
        const QString target = sandbox.file("target");
        ASSERT_TRUE(QDir().mkpath(target));
        for (const char* name : {"older.txt", "newer.txt", "absent.txt"}) {
            QFile file(sandbox.file(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("archived") > 0 &&
                        file.flush());
            ASSERT_TRUE(file.setFileTime(archived, QFileDevice::FileModificationTime));
            if (QByteArray(name) != "absent.txt") {
                QFile existing(target + '/' + name);
                ASSERT_TRUE(existing.open(QIODevice::WriteOnly) && existing.write("kept") > 0 &&
                            existing.flush());
                ASSERT_TRUE(existing.setFileTime(archived.addYears(name[0] == 'o' ? -10 : 10),
                                                 QFileDevice::FileModificationTime));
            }
        }
        ASSERT_EQ(
            RunTool("zip", {"-q", "t.zip", "older.txt", "newer.txt", "absent.txt"}, sandbox.path()),
            0);
        UnzipOptions options = UnzipOptions::ForUpdate(sandbox.file("t.zip"), target);
        options.extractOnlyNewer = test.onlyNewer;
        options.freshenOnly = test.freshen;
        ScriptedUnzipPrompts prompts;
        const UnzipResult result = UnzipArchive(options, prompts);
        EXPECT_EQ(result.code, UnzipCode::kOk);
        EXPECT_EQ(result.members, test.written);
        EXPECT_EQ(ReadFile(target + "/older.txt"), "archived");
        EXPECT_EQ(ReadFile(target + "/newer.txt"), "kept");
        EXPECT_EQ(QFile::exists(target + "/absent.txt"), test.written.contains("absent.txt"));
    }
}

}  // namespace
