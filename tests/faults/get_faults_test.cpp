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

// Readable failures: texts print as texts, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace faults;

namespace {

struct GetRun {
    int exitCode = -1;
    bool finished = false;
    QStringList out;
    QStringList err;
};

QStringList Lines(const QByteArray& output) {
    return QString::fromLocal8Bit(output).split(u'\n', Qt::SkipEmptyParts);
}

// The program with a home of the sandbox's own, so nothing of the user's is read or written.
GetRun RunGet(const Sandbox& box, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), box.file(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), box.file(QStringLiteral("home/.config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), box.file(QStringLiteral("home/.local/share")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(box.file(QStringLiteral("cwd")));
    process.start(QStringLiteral(BRENLOFT_GET_EXE), arguments);
    GetRun run;
    if (!process.waitForStarted(10000)) {
        return run;
    }
    // Far beyond any run that works: a bound for a hang, not a measure of speed.
    run.finished = process.waitForFinished(120000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = Lines(process.readAllStandardOutput());
    run.err = Lines(process.readAllStandardError());
    return run;
}

}  // namespace

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
    const GetRun run = RunGet(box, arguments);
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
