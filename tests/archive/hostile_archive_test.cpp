#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <string_view>
#include <utility>

#include "archive/member_path.h"
#include "archive/unzip_archive.h"
#include "tests/archive/archive_test_tools.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

using namespace std::literals;

struct NameCase {
    std::string_view name;  // may hold a NUL
    bool safe;
};

TEST(MemberPathTest, RefusesEveryWayOutOfTheFolder) {
    const QList<NameCase> cases = {
        {"a.txt", true},
        {"a/b/c.txt", true},
        {"a/b/", true},
        {"..a/b..", true},
        {"", false},
        {"/etc/x", false},
        {"../x", false},
        {"a/../../x", false},
        {"a/..", false},
        {"./x", false},
        {"a//x", false},
        {"a\\..\\x", false},
        {"C:\\x", false},
        {"//x", false},
        {"a/./b", false},
        {"a/b//", false},
        {"..\0/..\0/x"sv, false},
        {"a\nb", false},
        {"a\x1b[2J", false},
        {"a\x7f", false},
    };
    for (const NameCase& test : cases) {
        QString why;
        const QByteArray name(test.name.data(), qsizetype(test.name.size()));
        EXPECT_EQ(SafeMemberPath(name, &why).has_value(), test.safe) << test.name;
        EXPECT_EQ(why.isEmpty(), test.safe) << test.name;
    }
    QString why;
    const std::optional<MemberPath> path = SafeMemberPath("a/b/c.txt", &why);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->folders, QList<QByteArray>({"a", "b"}));
    EXPECT_EQ(path->leaf, "c.txt");
}

struct HostileCase {
    const char* kind;  // as extraction_samples.py names it
    int code;
    const char* message;
    QStringList written;     // what the target folder holds afterwards
    bool plantLink = false;  // the folder holds a link "link" to the outside beforehand
};

// Whatever an archive says, nothing lands outside the chosen folder, no temporary file is
// left, and each trick ends in a skip or a stop with a message.
TEST(HostileArchiveTest, WritesNothingOutsideTheFolder) {
    using namespace UnzipCode;
    const QStringList ok = {"ok.txt"};
    const QList<HostileCase> cases = {
        {"dotdot", kWarning, "../escaped: unsafe name", ok},
        {"absolute", kWarning, "/escaped: unsafe name", ok},
        {"inner_dotdot", kWarning, "a/../../escaped: unsafe name", ok},
        {"backslash", kWarning, "unsafe name skipped (backslash", ok},
        {"empty_component", kWarning, "unsafe name skipped (empty", ok},
        {"control_names", kWarning, "..\uFFFD/escaped: unsafe name skipped (control", ok},
        {"symlink", kWarning, "link: symbolic link skipped", {"link", "link/escaped", "ok.txt"}},
        {"symlink", kWarning, "link/escaped: link is not a folder", {"link", "ok.txt"}, true},
        {"device", kWarning, "dev: device or special file skipped", ok},
        {"bomb", kError, "bomb: holds more data than the archive declares", ok},
        {"crc", kError, "crc: ", {"after.txt", "ok.txt"}},
        {"huge", kDiskFull, "the archive needs", {}},
    };
    for (const HostileCase& test : cases) {
        SCOPED_TRACE(test.kind);
        Sandbox sandbox;
        const QString outside = sandbox.file("outside");
        const QString target = sandbox.file("in/target");
        ASSERT_TRUE(QDir().mkpath(outside));
        ASSERT_TRUE(QDir().mkpath(target));
        ASSERT_TRUE(MakeSample({test.kind, sandbox.file("h.zip"), outside}, sandbox.path()));
        if (test.plantLink) {
            ASSERT_TRUE(QFile::link(outside, target + "/link"));
        }
        ScriptedUnzipPrompts prompts;
        const UnzipResult result =
            UnzipArchive(UnzipOptions::ForUpdate(sandbox.file("h.zip"), target), prompts);
        EXPECT_EQ(result.code, test.code);
        EXPECT_TRUE(result.messages.join('\n').contains(test.message))
            << result.messages.join('\n').toStdString();
        EXPECT_EQ(TreeOf(target).keys(), test.written);
        EXPECT_TRUE(TreeOf(outside).isEmpty());
        EXPECT_EQ(TreeOf(sandbox.file("in")).keys().filter(QRegularExpression("^[^/]*$")),
                  QStringList{"target"});
        EXPECT_EQ(TreeOf(sandbox.path()).keys().filter(QRegularExpression("^[^/]*$")),
                  QStringList({"h.zip", "in", "outside"}));
        if (QByteArray(test.kind) == "symlink") {
            EXPECT_EQ(TreeOf(target).value("link"), test.plantLink ? "link" : "folder");
        }
    }
}

// The archive's bits, less set-user-id and the like, and less what the umask takes.
TEST(HostileArchiveTest, DropsSetUserIdBitsAndKeepsTheUmask) {
    Sandbox sandbox;
    ASSERT_TRUE(MakeSample({"setuid", sandbox.file("s.zip"), sandbox.file("x")}, sandbox.path()));
    ScriptedUnzipPrompts prompts;
    const mode_t umask = ::umask(027);
    EXPECT_EQ(
        UnzipArchive(UnzipOptions::ForUpdate(sandbox.file("s.zip"), sandbox.file("out")), prompts)
            .code,
        UnzipCode::kOk);
    ::umask(umask);
    for (const auto& [name, mode] : {std::pair{"out/tool", 0750u}, {"out/shared", 0640u}}) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(sandbox.file(name)).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode) << name;
    }
}

}  // namespace
