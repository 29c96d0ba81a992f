// FTP downloads end to end through the session, against real servers on loopback: pyftpdlib
// (logins, session limits, refused restarts, a passive reply naming another address, a cut
// data connection) and vsftpd.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <map>
#include <set>
#include <tuple>

#include "engine/session/failure_words.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/ftp_peers.h"

using namespace session_test;

namespace {

// The folder the servers serve; readable by everyone, as vsftpd's unprivileged user reads it.
class FtpSessionTest : public ::testing::Test {
public:
    void SetUp() override {
        served = box.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served + QStringLiteral("/sub/deeper")));
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        for (const QString& folder : {box.path(), served, served + QStringLiteral("/sub"),
                                      served + QStringLiteral("/sub/deeper")}) {
            QFile::setPermissions(folder, open);
        }
    }

    QByteArray serve(const QString& path, qsizetype size) {
        QByteArray bytes = RandomBytes(size);
        EXPECT_TRUE(WriteFile(served + path, bytes));
        QFile::setPermissions(served + path, QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ReadGroup | QFile::ReadOther);
        return bytes;
    }

    Sandbox box;
    QString served;
};

// Waits for every download and checks that each arrived whole under its name.
void ExpectAllArrive(Engine& engine, const std::vector<Download*>& downloads,
                     const std::vector<QByteArray>& contents, const std::vector<int>& segments) {
    ASSERT_TRUE(WaitClosed(downloads, std::chrono::seconds(120)));
    for (std::size_t i = 0; i < downloads.size(); ++i) {
        const Download& d = *downloads[i];
        const DownloadRecord& r = engine.record(d);
        SCOPED_TRACE(r.Url.toStdString());
        EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
        // The plan's count; a stalled segment's range may have been split off since.
        ASSERT_FALSE(d.observer.planned.empty());
        EXPECT_EQ(d.observer.planned.front(), segments[i]);
        EXPECT_GE(r.SegmentCount, segments[i]);
        EXPECT_EQ(r.FileSize.bytes(), contents[i].size());
        EXPECT_EQ(r.BytesDone.bytes(), contents[i].size()) << "every byte counted once";
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(contents[i]));
    }
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});
    EXPECT_EQ(engine.prompts.messages, QStringList{});
}

// Sizes across the plan's steps, with 1, 4 and 8 segments allowed, all at once; each file in
// a folder of its own depth.
void DownloadSizes(FtpSessionTest& test, Engine& engine,
                   const std::function<QString(const QString&)>& url) {
    const std::vector<std::pair<QString, qsizetype>> files = {
        {QStringLiteral("/one.bin"), 1},
        {QStringLiteral("/sub/small.bin"), 49999},
        {QStringLiteral("/sub/deeper/middle.bin"), 299999},
        {QStringLiteral("/sub/big file.bin"), 3000017},
    };
    std::vector<Download*> downloads;
    std::vector<QByteArray> contents;
    std::vector<int> segments;
    for (const int allowed : {1, 4, 8}) {
        engine.settings.MaxSegments = static_cast<std::int16_t>(allowed);
        for (const auto& [path, size] : files) {
            const QString copy = path + QStringLiteral(".%1").arg(allowed);
            contents.push_back(test.serve(copy, size));
            downloads.push_back(&engine.fetch(url(copy)));
            segments.push_back(std::min(size < 50000 ? 1 : size < 300000 ? 2 : 8, allowed));
            // The plan is made when the probe ends; the setting must still be this one.
            ASSERT_TRUE(WaitFor([&] { return engine.record(*downloads.back()).SegmentCount > 0; },
                                std::chrono::seconds(20)));
        }
    }
    ExpectAllArrive(engine, downloads, contents, segments);
}

std::vector<QByteArray> LogLines(const QString& folder) {
    QFile log(folder + QStringLiteral("/server.log"));
    if (!log.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QList<QByteArray> lines = log.readAll().split('\n');
    return std::vector<QByteArray>(lines.begin(), lines.end());
}

// The commands the server received, in order ("REST 100", "RETR /a").
std::vector<QByteArray> Commands(const QString& folder, const QByteArray& verb) {
    std::vector<QByteArray> found;
    for (const QByteArray& line : LogLines(folder)) {
        const qsizetype at = line.indexOf("<- " + verb);
        if (at >= 0) {
            found.push_back(line.mid(at + 3).trimmed());
        }
    }
    return found;
}

}  // namespace

TEST_F(FtpSessionTest, PyftpdlibSizesAndSegmentPlans) {
    PyFtpPeer server(served);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    DownloadSizes(*this, engine, [&](const QString& path) { return server.url(path); });
}

TEST_F(FtpSessionTest, VsftpdSizesAndSegmentPlans) {
    VsftpdPeer server(served);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    DownloadSizes(*this, engine, [&](const QString& path) { return server.url(path); });
}

// A named user's paths lead from the user's home; multi-line greeting and login replies are
// each answered once. A wrong password ends the download with the login message, and a
// missing file with its own message and the entry removed.
TEST_F(FtpSessionTest, NamedLoginsWrongPasswordsAndMissingFiles) {
    const QString home = box.file(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/docs")));
    const QByteArray mine = RandomBytes(400000);
    ASSERT_TRUE(WriteFile(home + QStringLiteral("/docs/mine.bin"), mine));
    PyFtpPeer server(served);
    server.addUser(QStringLiteral("alice"), QStringLiteral("s3cret: p@ss"), home);
    server.setMultiLineGreeting(true);
    server.setMultiLineLogin(true);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;

    Download& good = engine.fetch(server.url(
        QStringLiteral("alice"), QStringLiteral("s3cret: p@ss"), QStringLiteral("/docs/mine.bin")));
    ExpectAllArrive(engine, {&good}, {mine}, {8});
    EXPECT_EQ(Commands(server.folder(), "USER").size(), 9u) << "one login per connection";

    Download& wrong = engine.fetch(server.url(QStringLiteral("alice"), QStringLiteral("guess"),
                                              QStringLiteral("/docs/mine.bin")));
    Download& missing = engine.fetch(server.url(QStringLiteral("/sub/nothing.bin")));
    ASSERT_TRUE(WaitClosed({&wrong, &missing}, std::chrono::seconds(60)));
    // Kept, failed, with the address and the server's reply as the reason.
    for (const auto& [d, words, text] :
         {std::tuple{&wrong, "the FTP server answered 530 Not logged in", 793},
          std::tuple{&missing, "the FTP server answered 550 File unavailable", 794}}) {
        EXPECT_FALSE(d->observer.finished);
        EXPECT_EQ(StateOf(engine.record(*d)), ListEntryState::Failed);
        EXPECT_FALSE(engine.record(*d).Url.isEmpty());
        EXPECT_EQ(FailureWords(FailureCodeOf(engine.record(*d)), engine.texts),
                  QLatin1String(words));
        EXPECT_EQ(d->observer.whys.value(0), engine.texts.text(text));
    }
    EXPECT_TRUE(engine.prompts.messages.contains(engine.texts.text(793)));
    EXPECT_TRUE(engine.prompts.messages.contains(engine.texts.text(794)));
}

// A server with no session to spare for the probe ("421", "530 too many users") is asked again
// later; a 530 that refuses the login is not (above).
TEST_F(FtpSessionTest, BusyServersAreAskedAgainLater) {
    const QByteArray data = serve(QStringLiteral("/busy.bin"), 300000);
    Engine engine(box.path());
    engine.ctx.busyFirstWaitMs = 1;
    for (const char* reply : {"421 Too many connections. Service temporarily unavailable.",
                              "530 Sorry, too many users: try again later."}) {
        SCOPED_TRACE(reply);
        PyFtpPeer server(served);
        server.turnAway(2, QLatin1String(reply));
        ASSERT_TRUE(server.start()) << server.error().toStdString();
        Download& d = engine.fetch(server.url(QStringLiteral("/busy.bin")));
        ASSERT_TRUE(WaitClosed({&d}));
        EXPECT_EQ(ReadFile(engine.record(d).SavePath), data);
        EXPECT_EQ(d.session->busyNotice().begun, 2);
    }
}

// A server that allows two sessions per address: the segments beyond them are told "421",
// wait, and start as the others finish; the file still comes out whole.
TEST_F(FtpSessionTest, SegmentsWaitForAFreeSession) {
    // The server's throttle sends a second's worth at once: segments must be several of those.
    const QByteArray data = serve(QStringLiteral("/limited.bin"), 1024 * 1024);
    PyFtpPeer server(served);
    server.setMaxSessionsPerAddress(2);
    server.setRateLimit(64 * 1024);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    engine.settings.MaxSegments = 4;

    Download& d = engine.fetch(server.url(QStringLiteral("/limited.bin")));
    DownloadRecord& r = engine.record(d);
    std::set<int> waited;
    WaitFor(
        [&] {
            for (int j = 1; j <= r.SegmentCount; ++j) {
                if (r.Segments.at(j)->State == SegmentState::FtpWaiting) {
                    waited.insert(j);
                }
            }
            return d.closed();
        },
        std::chrono::seconds(120));
    ExpectAllArrive(engine, {&d}, {data}, {4});
    EXPECT_GE(waited.size(), 2u) << "two segments had to wait";
    EXPECT_EQ(waited.count(1), 0u);
}

// REST refused: one segment from byte 0, no restart offset ever asked for. A 227 reply naming
// an address where nothing listens still reaches the server the control connection reached.
TEST_F(FtpSessionTest, RefusedRestartsAndForeignPassiveAddresses) {
    const QByteArray data = serve(QStringLiteral("/sub/whole.bin"), 2000000);
    PyFtpPeer server(served);
    server.refuseRest();
    server.setPassiveAddress(QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    Download& d = engine.fetch(server.url(QStringLiteral("/sub/whole.bin")));
    ExpectAllArrive(engine, {&d}, {data}, {1});
    EXPECT_EQ(engine.record(d).RangesSupported, FlagFalse);
    EXPECT_EQ(Commands(server.folder(), "REST"), std::vector<QByteArray>{"REST 0"})
        << "only the probe's question";
    EXPECT_EQ(Commands(server.folder(), "RETR").size(), 1u);
}

// Over IPv6 PASV has no address to give: each segment asks EPSV for a port and connects to it
// at the address its control connection reached.
TEST_F(FtpSessionTest, OverIPv6SegmentsAskForExtendedPassivePorts) {
    const QByteArray data = serve(QStringLiteral("/sub/six.bin"), 2000000);
    PyFtpPeer server(served);
    server.listenOnIPv6();
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    engine.settings.MaxSegments = 4;
    Download& d = engine.fetch(QStringLiteral("ftp://[::1]:%1/sub/six.bin").arg(server.port()));
    ExpectAllArrive(engine, {&d}, {data}, {4});
    EXPECT_EQ(engine.record(d).HostName, QStringLiteral("::1"));
    EXPECT_GE(Commands(server.folder(), "EPSV").size(), 5u) << "the probe's and each segment's";
    EXPECT_EQ(Commands(server.folder(), "PASV").size(), 0u);
}

// Pause closes both connections of every segment and keeps what arrived; resume logs in
// again and continues each segment at its next byte.
TEST_F(FtpSessionTest, PauseAndResume) {
    const QByteArray data = serve(QStringLiteral("/slow.bin"), 1024 * 1024);
    PyFtpPeer server(served);
    server.setRateLimit(32 * 1024);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    Download& d = engine.fetch(server.url(QStringLiteral("/slow.bin")));
    DownloadRecord& r = engine.record(d);
    ASSERT_TRUE(WaitFor(
        [&] {
            int receiving = 0;
            for (int j = 1; j <= r.SegmentCount; ++j) {
                receiving += r.Segments.at(j)->Received.bytes() > 0 ? 1 : 0;
            }
            return receiving == 8;
        },
        std::chrono::seconds(30)));
    d.session->PauseDownload();
    const DownloadRecord atPause = r;
    WaitFor([] { return false; }, std::chrono::milliseconds(800));
    EXPECT_EQ(r.Segments, atPause.Segments) << "nothing arrives while paused";
    std::vector<std::int64_t> restartAt;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        if (s.State != SegmentState::Complete) {
            EXPECT_EQ(s.Received.bytes(), 0);
            EXPECT_TRUE(StoredPart(r, j) ==
                        data.mid(s.EndPos.bytes() - s.Length.bytes() + 1, s.Done.bytes()))
                << "segment " << j;
            restartAt.push_back(s.StartPos.bytes());
        }
    }
    ASSERT_FALSE(restartAt.empty());
    d.session->ResumeDownload();
    ExpectAllArrive(engine, {&d}, {data}, {8});
    const auto rests = Commands(server.folder(), "REST");
    for (const std::int64_t at : restartAt) {
        EXPECT_NE(std::find(rests.begin(), rests.end(), "REST " + QByteArray::number(at)),
                  rests.end())
            << "resumed at " << at;
    }
}

// The server ends one data connection part way through a segment: the watchdog restarts that
// segment where its bytes stopped, and nothing is written twice.
TEST_F(FtpSessionTest, CutDataConnectionResumesAtTheRightByte) {
    const QByteArray data = serve(QStringLiteral("/cut.bin"), 1600000);
    PyFtpPeer server(served);
    server.cutFirstRestartedTransferAfter(30000);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    Download& d = engine.fetch(server.url(QStringLiteral("/cut.bin")));
    ExpectAllArrive(engine, {&d}, {data}, {8});
    // Segment starts are multiples of 200,000; the cut one asks again 30,000 bytes on.
    std::map<std::int64_t, int> starts;
    for (const QByteArray& rest : Commands(server.folder(), "REST")) {
        ++starts[rest.mid(5).toLongLong()];
    }
    int resumed = 0;
    for (const auto& [at, times] : starts) {
        if (at % 200000 == 30000) {
            ++resumed;
            EXPECT_EQ(times, 1);
            EXPECT_EQ(starts[at - 30000], 1) << "the cut segment began at " << at - 30000;
        }
    }
    EXPECT_EQ(resumed, 1);
}

// "213 junk" says nothing of the size: one segment, whole once the data connection has closed
// and "226" has come. A transfer cut with "426" is asked for again where its bytes stopped,
// whether the size is known or not. Replies that arrive a byte at a time are read whole.
TEST_F(FtpSessionTest, SizeRepliesWithoutANumberCutTransfersAndRepliesByteByByte) {
    const QByteArray unsized = serve(QStringLiteral("/unsized.bin"), 300000);
    const QByteArray plain = serve(QStringLiteral("/plain.bin"), 1600000);
    PyFtpPeer junk(served);
    junk.setSizeReply(QStringLiteral("junk"));
    PyFtpPeer junkCut(served);
    junkCut.setSizeReply(QStringLiteral("junk"));
    junkCut.abortFirstTransferAfter(30000);
    PyFtpPeer cut(served);
    cut.abortFirstTransferAfter(30000);
    PyFtpPeer slowReplies(served);
    slowReplies.setRepliesByteByByte(true);
    slowReplies.setMultiLineGreeting(true);
    slowReplies.setMultiLineLogin(true);
    for (PyFtpPeer* server : {&junk, &junkCut, &cut, &slowReplies}) {
        ASSERT_TRUE(server->start()) << server->error().toStdString();
    }
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    std::vector<Download*> downloads;
    for (PyFtpPeer* server : {&junk, &junkCut}) {
        downloads.push_back(&engine.fetch(server->url(QStringLiteral("/unsized.bin"))));
    }
    for (PyFtpPeer* server : {&cut, &slowReplies}) {
        downloads.push_back(&engine.fetch(server->url(QStringLiteral("/plain.bin"))));
    }
    ExpectAllArrive(engine, downloads, {unsized, unsized, plain, plain}, {1, 1, 8, 8});

    const auto rests = [](PyFtpPeer& server) {
        std::multiset<std::int64_t> at;
        for (const QByteArray& rest : Commands(server.folder(), "REST")) {
            at.insert(rest.mid(5).toLongLong());
        }
        return at;
    };
    EXPECT_EQ(rests(junk), (std::multiset<std::int64_t>{0, 0})) << "the probe's and the segment's";
    EXPECT_EQ(rests(junkCut).count(30000), 1u) << "asked again where the cut one stopped";
    EXPECT_EQ(Commands(junkCut.folder(), "RETR").size(), 2u);
    const auto cutRests = rests(cut);
    int resumed = 0;
    for (const std::int64_t at : cutRests) {
        resumed += at % 200000 == 30000 ? 1 : 0;
    }
    EXPECT_EQ(resumed, 1) << "the first transfer asked for again 30,000 bytes on";
}
