// Broken and hostile answers through brenloft-get as a script runs it: the fault server's HTTP
// answers, and FTP servers that each misbehave in one way. Each address ends as a finished
// file, byte-identical and inside the folder given, or as a line on stderr that names it and
// says why; nothing is written anywhere else.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <chrono>
#include <map>
#include <memory>
#include <ostream>

#include "tests/faults/fault_server.h"
#include "tests/support/ftp_peers.h"
#include "tests/support/get_command.h"
#include "tests/support/text_printer.h"

using namespace faults;

namespace {

// What an address may come to: its bytes as a finished file, a failure with a reason, or
// either of them where the answer leaves both sound.
struct Outcome {
    QString url;
    QByteArray bytes;
    bool mayComplete;
    bool mayFail;
    QString why = {};  // a part of the failure's line, when it fails
};

void MakeFolders(const Sandbox& box) {
    for (const QString& folder :
         {QStringLiteral("home"), QStringLiteral("cwd"), QStringLiteral("out")}) {
        ASSERT_TRUE(QDir().mkpath(box.file(folder)));
    }
}

QStringList Arguments(const Sandbox& box, const std::vector<Outcome>& outcomes) {
    QStringList arguments = {QStringLiteral("-q"), QStringLiteral("-d"), box.file("out"),
                             QStringLiteral("-n"), QStringLiteral("8")};
    for (const Outcome& o : outcomes) {
        arguments << o.url;
    }
    return arguments;
}

// Every finished file inside the out folder under a safe name, and each address ended the way
// it may: its bytes among the files and nothing said of it, or one line saying why.
void ExpectEachEndedAsItMay(const Sandbox& box, const GetRun& run,
                            const std::vector<Outcome>& outcomes) {
    ASSERT_TRUE(run.finished) << "brenloft-get ends";
    const QString out = QFileInfo(box.file("out")).canonicalFilePath();
    std::map<QByteArray, QString> finished;
    for (const QString& path : run.out) {
        const QFileInfo saved(path);
        EXPECT_EQ(saved.canonicalPath(), out) << path.toStdString();
        EXPECT_TRUE(SafeFileName(saved.fileName())) << path.toStdString();
        finished[FileSha256(path)] = path;
    }
    int failures = 0;
    for (const Outcome& o : outcomes) {
        SCOPED_TRACE(o.url.toStdString());
        const bool complete = finished.count(Sha256(o.bytes)) == 1;
        QStringList lines;
        for (const QString& line : run.err) {
            if (line.startsWith(QStringLiteral("brenloft-get: ") + o.url + u':')) {
                lines << line;
            }
        }
        if (complete) {
            EXPECT_TRUE(o.mayComplete);
            EXPECT_EQ(lines, QStringList{});
        } else {
            ++failures;
            EXPECT_TRUE(o.mayFail) << run.err.join(u'\n').toStdString();
            ASSERT_EQ(lines.size(), 1) << run.err.join(u'\n').toStdString();
            EXPECT_GT(lines[0].size(), QStringLiteral("brenloft-get: ").size() + o.url.size() + 2)
                << "the line says why";
            EXPECT_TRUE(lines[0].contains(o.why, Qt::CaseInsensitive)) << lines[0].toStdString();
        }
    }
    EXPECT_EQ(run.out.size() + failures, qsizetype(outcomes.size()))
        << run.out.join(u'\n').toStdString();
    EXPECT_EQ(run.exitCode, failures > 0 ? 1 : 0);
}

}  // namespace

TEST(GetFaults, EachAddressEndsAsAWholeFileOrAReason) {
    Sandbox box;
    MakeFolders(box);
    const QString logPath = box.file(QStringLiteral("requests.log"));
    HttpFaultServer server;
    ASSERT_TRUE(server.start(logPath)) << server.error().toStdString();

    std::vector<Outcome> outcomes;
    for (const Scenario& s : EveryScenario()) {
        outcomes.push_back({server.url(s.name, s.size, s.name + QStringLiteral(".bin")),
                            HttpFaultServer::Body(s.name, s.size), s.allowed != Allowed::Fail,
                            s.allowed != Allowed::Complete, s.why});
    }
    const QSet<QString> before = Tree(box.path());
    std::map<QString, QByteArray> outsideBefore;
    for (const QString& path : OutsideTargets(box)) {
        outsideBefore[path] = FileSha256(path);
    }
    const GetRun run = RunGet(box, Arguments(box, outcomes), box.file(QStringLiteral("cwd")));
    ExpectEachEndedAsItMay(box, run, outcomes);

    const QStringList strays =
        Strays(before, Tree(box.path()),
               {QStringLiteral("out/"), QStringLiteral("requests.log"), QStringLiteral("home/")});
    EXPECT_EQ(strays, QStringList{});
    for (const auto& [path, sha] : outsideBefore) {
        EXPECT_EQ(FileSha256(path), sha) << path.toStdString();
    }
}

// One pyftpdlib server for each fault, all fetched in one run: multi-line replies sent a byte
// at a time, two sessions for eight segments ("421"), a 227 naming 127.0.0.2, a transfer cut
// with "426", "213 junk", REST refused; a missing file and a wrong password fail with a line
// that never shows the password.
TEST(GetFaults, FtpServersThatMisbehaveEndAsAWholeFileOrAReason) {
    Sandbox box;
    MakeFolders(box);
    const QString served = box.file(QStringLiteral("served"));
    ASSERT_TRUE(QDir().mkpath(served));
    // A file of its own for each address, so that each finished file tells where it came from.
    std::map<QString, QByteArray> files;
    const auto serve = [&](const QString& name) {
        files[name] = RandomBytes(1600000);
        EXPECT_TRUE(WriteFile(served + u'/' + name, files[name]));
        return u'/' + name;
    };
    std::vector<std::unique_ptr<PyFtpPeer>> servers;
    const auto add = [&](const std::function<void(PyFtpPeer&)>& fault) -> PyFtpPeer& {
        servers.push_back(std::make_unique<PyFtpPeer>(served));
        fault(*servers.back());
        return *servers.back();
    };
    PyFtpPeer& slowReplies = add([](PyFtpPeer& s) {
        s.setRepliesByteByByte(true);
        s.setMultiLineGreeting(true);
        s.setMultiLineLogin(true);
    });
    PyFtpPeer& twoSessions = add([](PyFtpPeer& s) { s.setMaxSessionsPerAddress(2); });
    PyFtpPeer& elsewhere = add([](PyFtpPeer& s) { s.setPassiveAddress("127.0.0.2"); });
    PyFtpPeer& aborted = add([](PyFtpPeer& s) { s.abortFirstTransferAfter(30000); });
    PyFtpPeer& junkSize = add([](PyFtpPeer& s) { s.setSizeReply(QStringLiteral("junk")); });
    PyFtpPeer& noRest = add([](PyFtpPeer& s) { s.refuseRest(); });
    const QString secret = QStringLiteral("s3cr3t-w0rd");
    PyFtpPeer& login = add([&](PyFtpPeer& s) { s.addUser("mira", "right-one", served); });
    for (const auto& s : servers) {
        ASSERT_TRUE(s->start()) << s->error().toStdString();
    }

    std::vector<Outcome> outcomes;
    const std::vector<std::pair<PyFtpPeer*, QString>> whole = {
        {&slowReplies, "slow-replies.bin"}, {&twoSessions, "two-sessions.bin"},
        {&elsewhere, "elsewhere.bin"},      {&aborted, "aborted.bin"},
        {&junkSize, "junk-size.bin"},       {&noRest, "no-rest.bin"},
    };
    for (const auto& [s, name] : whole) {
        const QString path = serve(name);
        outcomes.push_back({s->url(path), files[name], true, false});
    }
    outcomes.push_back({slowReplies.url(QStringLiteral("/missing.bin")), {}, false, true});
    const QString path = serve(QStringLiteral("login.bin"));
    outcomes.push_back(
        {login.url(QStringLiteral("mira"), secret, path), files["login.bin"], false, true});
    // The line names the address as shown, without its password.
    outcomes.back().url.replace(secret, QStringLiteral("***"));
    const QSet<QString> before = Tree(box.path());

    QStringList arguments = Arguments(box, outcomes);
    arguments.replace(arguments.size() - 1, login.url(QStringLiteral("mira"), secret, path));
    const GetRun run = RunGet(box, arguments, box.file(QStringLiteral("cwd")));
    ExpectEachEndedAsItMay(box, run, outcomes);
    for (const QString& line : run.out + run.err) {
        EXPECT_FALSE(line.contains(secret)) << line.toStdString();
    }
    EXPECT_EQ(Strays(before, Tree(box.path()), {QStringLiteral("out/"), QStringLiteral("home/")}),
              QStringList{});
}

// A server that serves two connections and resets more, as its log tells: the first download
// ends whole, refused only on connections already on their way; the next one asks for two.
TEST(GetFaults, ServerTakingTwoConnectionsGetsTwo) {
    Sandbox box;
    MakeFolders(box);
    const QString logPath = box.file(QStringLiteral("requests.log"));
    HttpFaultServer server;
    server.setMaxConnections(2);
    ASSERT_TRUE(server.start(logPath)) << server.error().toStdString();
    const qsizetype size = 8000000;
    for (const auto& [name, refusedAtFirst] :
         {std::pair{"first.bin", true}, {"second.bin", false}}) {
        SCOPED_TRACE(name);
        const qsizetype seen = ReadFile(logPath).count('\n');
        const QString url = server.url(QStringLiteral("plain"), size, QLatin1String(name));
        // This server answers every address with a file: checksum look-ups would take
        // connections of their own.
        const GetRun run = RunGet(
            box, QStringList{"--no-checksum-lookup"} + Arguments(box, {{url, {}, true, false}}),
            box.file("cwd"));
        ASSERT_EQ(run.out.size(), 1) << run.err.join(u'\n').toStdString();
        EXPECT_EQ(FileSha256(run.out[0]), Sha256(HttpFaultServer::Body("plain", size)));
        int refused = 0;
        int onTheirWay = -3;  // connections beyond the probe and the two served
        int twoAtOnce = 0;
        for (const QByteArray& line : ReadFile(logPath).split('\n').mid(seen)) {
            refused += line.startsWith("REFUSED ") ? 1 : 0;
            onTheirWay += refused == 0 && line.startsWith("ACCEPT ") ? 1 : 0;
            twoAtOnce += line == "ACCEPT 2" ? 1 : 0;
        }
        EXPECT_EQ(refused > 0, refusedAtFirst) << refused;
        EXPECT_LE(refused, std::max(onTheirWay, 0));
        EXPECT_GT(twoAtOnce, 0);
    }
}

// A file replaced on the server after the probe is fetched again from its first byte, with one
// line that says so; with --no-restart the download stops with the reason instead.
TEST(GetFaults, AChangedFileStartsAgainOrStopsWithTheReason) {
    Sandbox box;
    MakeFolders(box);
    HttpFaultServer server;
    ASSERT_TRUE(server.start(box.file(QStringLiteral("requests.log"))))
        << server.error().toStdString();
    for (const bool noRestart : {false, true}) {
        const QString name = noRestart ? QStringLiteral("stops.bin") : QStringLiteral("again.bin");
        const std::vector<Outcome> outcome = {
            {server.url(QStringLiteral("changed"), 1000003, name),
             HttpFaultServer::Body(QStringLiteral("changed"), 1000003), !noRestart, noRestart,
             QStringLiteral("changed since")}};
        QStringList arguments = Arguments(box, outcome);
        if (noRestart) {
            arguments.prepend(QStringLiteral("--no-restart"));
        }
        const GetRun run = RunGet(box, arguments, box.file(QStringLiteral("cwd")));
        ExpectEachEndedAsItMay(box, run, outcome);
        EXPECT_EQ(run.err.filter(QStringLiteral("starting again from the first byte")).size(),
                  noRestart ? 0 : 1)
            << run.err.join(u'\n').toStdString();
    }
}

// A signed address that expired part-way, given anew: a look-alike of its size and a file of
// another size are fetched as new downloads, each with a line saying why; the same file under a
// fresh token continues it, asking again only the bytes its check compares.
TEST(GetFaults, AFreshLinkContinuesOnlyTheSameFile) {
    Sandbox box;
    MakeFolders(box);
    const QString logPath = box.file(QStringLiteral("requests.log"));
    HttpFaultServer server;
    ASSERT_TRUE(server.start(logPath)) << server.error().toStdString();
    const auto get = [&](const QString& mode, qsizetype size) {
        const QString url = server.url(mode, size, QStringLiteral("big.iso"));
        // Every address gives a file here: checksum look-ups would add bytes to those counted.
        return RunGet(box, {"--no-checksum-lookup", "-n", "1", "-d", box.file("out"), url},
                      box.file(QStringLiteral("cwd")));
    };
    const GetRun expired = get(QStringLiteral("expire-300000-a"), 1000000);
    ASSERT_EQ(expired.exitCode, 1) << expired.err.join(u'\n').toStdString();
    EXPECT_EQ(expired.err.filter(QStringLiteral("the server answered 403 Forbidden")).size(), 1);

    const struct {
        const char* mode;
        qsizetype size;
        const char* body;
        const char* why;
    } others[] = {{"lookalike-b", 1000000, "lookalike", "other bytes at byte "},
                  {"token-d", 999999, "signed", "another size: "}};
    for (const auto& other : others) {
        SCOPED_TRACE(other.mode);
        const GetRun run = get(QLatin1String(other.mode), other.size);
        ASSERT_EQ(run.out.size(), 1) << run.err.join(u'\n').toStdString();
        EXPECT_EQ(FileSha256(run.out[0]), Sha256(HttpFaultServer::Body(other.body, other.size)));
        EXPECT_EQ(run.err
                      .filter(QStringLiteral("big.iso: not continued from the new address: ") +
                              QLatin1String(other.why))
                      .size(),
                  1)
            << run.err.join(u'\n').toStdString();
    }

    const qsizetype seen = ReadFile(logPath).count('\n');
    const GetRun fresh = get(QStringLiteral("token-c"), 1000000);
    ASSERT_EQ(fresh.out.size(), 1) << fresh.err.join(u'\n').toStdString();
    EXPECT_EQ(FileSha256(fresh.out[0]), Sha256(HttpFaultServer::Body("signed", 1000000)));
    EXPECT_EQ(fresh.err.filter(QStringLiteral("big.iso: continuing from the new address")).size(),
              1)
        << fresh.err.join(u'\n').toStdString();
    // The bytes asked for (a probe's open range reads only the head): those after the ones the
    // first run got, and the 64 KiB the check compares.
    qint64 asked = 0;
    for (const QByteArray& line : ReadFile(logPath).split('\n').mid(seen)) {
        const QList<QByteArray> words = line.split(' ');
        const bool open = words.size() == 5 && words[4] != "-" && words[4].endsWith('-');
        if (words.size() == 5 && words[1].startsWith("/token-c/") && !open) {
            asked += words[4] == "-" ? 1000000 : words[3].toLongLong() - words[2].toLongLong() + 1;
        }
    }
    EXPECT_LE(asked, 1000000 - 300000 + 65536) << ReadFile(logPath).toStdString();
}
