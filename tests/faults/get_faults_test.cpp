// A few of the fault server's answers through brenloft-get as a script runs it: each address
// ends as a finished file, byte-identical and inside the folder given, or as a line on stderr
// that names it and says why; nothing is written anywhere else.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <chrono>
#include <map>
#include <ostream>

#include "tests/faults/fault_server.h"
#include "tests/support/get_command.h"

// Readable failures: texts print as texts, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace faults;

TEST(GetFaults, EachAddressEndsAsAWholeFileOrAReason) {
    Sandbox box;
    for (const QString& folder :
         {QStringLiteral("home"), QStringLiteral("cwd"), QStringLiteral("out")}) {
        ASSERT_TRUE(QDir().mkpath(box.file(folder)));
    }
    const QString logPath = box.file(QStringLiteral("requests.log"));
    FaultServer server;
    ASSERT_TRUE(server.start(logPath)) << server.error().toStdString();

    struct Case {
        QString scenario;
        qsizetype size;
        bool mayComplete;
        bool mayFail;
    };
    const std::vector<Case> cases = {
        {"byte-head", 1000003, true, false}, {"cd-parent", 120000, true, false},
        {"cd-encoded", 120000, true, false}, {"wrong-start", 1000003, true, false},
        {"loop-a", 1000, false, true},       {"to-file", 1000, false, true},
        {"huge-head", 100000, false, true},
    };
    QStringList arguments = {QStringLiteral("-q"), QStringLiteral("-d"), box.file("out"),
                             QStringLiteral("-n"), QStringLiteral("8")};
    for (const Case& c : cases) {
        arguments << server.url(c.scenario, c.size, c.scenario + QStringLiteral(".bin"));
    }
    const QSet<QString> before = Tree(box.path());
    std::map<QString, QByteArray> outsideBefore;
    for (const QString& path : OutsideTargets(box)) {
        outsideBefore[path] = FileSha256(path);
    }
    const GetRun run = RunGet(box, arguments, box.file(QStringLiteral("cwd")));
    ASSERT_TRUE(run.finished) << "brenloft-get ends";

    // Finished files, by their contents: which address each came from.
    const QString out = QFileInfo(box.file("out")).canonicalFilePath();
    std::map<QByteArray, QString> finished;
    for (const QString& path : run.out) {
        const QFileInfo saved(path);
        EXPECT_EQ(saved.canonicalPath(), out) << path.toStdString();
        EXPECT_TRUE(SafeFileName(saved.fileName())) << path.toStdString();
        finished[FileSha256(path)] = path;
    }
    int failures = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario.toStdString());
        const QString url = server.url(c.scenario, c.size, c.scenario + QStringLiteral(".bin"));
        const bool complete = finished.count(Sha256(Body(c.scenario, c.size))) == 1;
        QStringList lines;
        for (const QString& line : run.err) {
            if (line.startsWith(QStringLiteral("brenloft-get: ") + url + u':')) {
                lines << line;
            }
        }
        if (complete) {
            EXPECT_TRUE(c.mayComplete);
            EXPECT_EQ(lines, QStringList{});
        } else {
            ++failures;
            EXPECT_TRUE(c.mayFail) << run.err.join(u'\n').toStdString();
            ASSERT_EQ(lines.size(), 1) << run.err.join(u'\n').toStdString();
            EXPECT_GT(lines[0].size(), QStringLiteral("brenloft-get: ").size() + url.size() + 2)
                << "the line says why";
        }
    }
    EXPECT_EQ(run.out.size() + failures, qsizetype(cases.size()))
        << run.out.join(u'\n').toStdString();
    EXPECT_EQ(run.exitCode, failures > 0 ? 1 : 0);

    const QStringList strays =
        Strays(before, Tree(box.path()),
               {QStringLiteral("out/"), QStringLiteral("requests.log"), QStringLiteral("home/")});
    EXPECT_EQ(strays, QStringList{});
    for (const auto& [path, sha] : outsideBefore) {
        EXPECT_EQ(FileSha256(path), sha) << path.toStdString();
    }
}
