// The watchdog and the answers a segment must refuse, against the HTTP fault server serving
// files it stalls, trickles, resets or answers with the wrong range, also over TLS. All faults
// run at once, so the whole test waits for the watchdog's fifteen seconds only once.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <map>

#include "core/download_list/entry_state.h"
#include "engine/session/failure_words.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_certificates.h"

using namespace session_test;

namespace {

constexpr qsizetype FileSize = 1000003;  // 8 segments: 125,003 then 125,000 bytes each
constexpr int FaultBytes = 40000;        // body bytes a faulty answer sends before the fault

struct LogLine {
    QString kind;  // GET, STALL, TRICKLE, RESET, WHOLE, SHIFTED
    QString path;
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t sent = 0;  // of a fault
};

std::vector<LogLine> ReadLog(const QString& path) {
    std::vector<LogLine> lines;
    for (const QByteArray& raw : ReadFile(path).split('\n')) {
        const QList<QByteArray> w = raw.split(' ');
        if (w.size() < 4) {
            continue;
        }
        lines.push_back(LogLine{QString::fromLatin1(w[0]), QString::fromLatin1(w[1]),
                                w[2].toLongLong(), w[3].toLongLong(),
                                w[0] != "GET" && w.size() > 4 ? w[4].toLongLong() : 0});
    }
    return lines;
}

std::vector<LogLine> Matching(const std::vector<LogLine>& log, const QString& kind,
                              const QString& path) {
    std::vector<LogLine> found;
    for (const LogLine& l : log) {
        if (l.kind == kind && l.path == path) {
            found.push_back(l);
        }
    }
    return found;
}

// The range start of the request that followed the faulty one on the same segment (same last
// byte), or -1 when none did.
std::int64_t RestartedAt(const std::vector<LogLine>& log, const LogLine& fault) {
    bool faultySeen = false;
    for (const LogLine& l : log) {
        if (l.kind != u"GET" || l.path != fault.path || l.last != fault.last) {
            continue;
        }
        if (faultySeen) {
            return l.first;
        }
        faultySeen = l.first == fault.first;
    }
    return -1;
}

// A folder the fault server serves, every request logged.
struct FaultServed {
    Sandbox box;
    QString served = box.file(QStringLiteral("served"));
    QString logPath = box.file(QStringLiteral("requests.log"));
    HttpFaultServer server{served, FaultBytes};

    bool start() { return QDir().mkpath(served) && server.start(logPath); }
};

}  // namespace

TEST(SessionWatchdog, RecoversFromStallsResetsAndWrongAnswers) {
    FaultServed rig;
    ASSERT_TRUE(rig.start()) << rig.server.error().toStdString();
    auto& [box, served, logPath, server] = rig;
    // Over TLS a reset ends a segment without close_notify, part way through its known length.
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
    const QString tlsLogPath = box.file(QStringLiteral("tls-requests.log"));
    HttpFaultServer tlsServer(served, FaultBytes);
    tlsServer.setTls(certificates.file(QStringLiteral("good.pem")),
                     certificates.file(QStringLiteral("server.key")));
    ASSERT_TRUE(tlsServer.start(tlsLogPath)) << tlsServer.error().toStdString();

    const QStringList modes = {"plain", "split", "stall",      "trickle",
                               "reset", "whole", "whole-once", "shifted-once"};
    std::map<QString, QByteArray> sources;
    const QStringList tlsModes = {"reset", "stall"};
    Engine engine(box.path());
    engine.sockets.setTlsCaFile(certificates.file(QStringLiteral("ca.pem")));
    engine.settings.MaxSegments = 8;
    std::map<QString, Download*> downloads;
    std::vector<Download*> all;
    const auto fetch = [&](const HttpFaultServer& from, const QString& mode, const QString& key) {
        // Each its own bytes, so that data of one download turning up in another shows.
        const QString name = key + QStringLiteral(".bin");
        sources[key] = RandomBytes(FileSize);
        ASSERT_TRUE(WriteFile(served + u'/' + name, sources[key]));
        downloads[key] = &engine.fetch(from.url(u'/' + mode + u'/' + name));
        all.push_back(downloads[key]);
    };
    for (const QString& mode : modes) {
        fetch(server, mode, mode);
    }
    for (const QString& mode : tlsModes) {
        fetch(tlsServer, mode, QStringLiteral("tls-") + mode);
    }
    ASSERT_TRUE(WaitClosed(all, std::chrono::seconds(90)));
    const std::vector<LogLine> log = ReadLog(logPath);

    QStringList keys = modes;
    for (const QString& mode : tlsModes) {
        keys << QStringLiteral("tls-") + mode;
    }
    for (const QString& mode : keys) {
        SCOPED_TRACE(mode.toStdString());
        const Download& d = *downloads[mode];
        const DownloadRecord& r = engine.record(d);
        EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(sources[mode])) << "the file is byte-identical";
        EXPECT_EQ(r.BytesDone.bytes(), FileSize);
        if (mode != u"whole") {
            EXPECT_EQ(r.SegmentCount, 8);
            EXPECT_EQ(d.observer.planned, std::vector<int>{8});
        }
    }

    const QString stallPath = QStringLiteral("/stall/stall.bin");
    const auto stalls = Matching(log, QStringLiteral("STALL"), stallPath);
    ASSERT_EQ(stalls.size(), 1u);
    EXPECT_EQ(RestartedAt(log, stalls[0]), stalls[0].first + FaultBytes)
        << "the restart asks for the first byte not yet received";

    const QString resetPath = QStringLiteral("/reset/reset.bin");
    const auto resets = Matching(log, QStringLiteral("RESET"), resetPath);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(RestartedAt(log, resets[0]), resets[0].first + FaultBytes);

    const std::vector<LogLine> tlsLog = ReadLog(tlsLogPath);
    for (const auto& [kind, path] :
         {std::pair{QStringLiteral("RESET"), QStringLiteral("/reset/tls-reset.bin")},
          std::pair{QStringLiteral("STALL"), QStringLiteral("/stall/tls-stall.bin")}}) {
        SCOPED_TRACE(path.toStdString());
        const auto faults = Matching(tlsLog, kind, path);
        ASSERT_EQ(faults.size(), 1u);
        EXPECT_EQ(RestartedAt(tlsLog, faults[0]), faults[0].first + FaultBytes);
    }

    // A trickle below 1 KiB in 30 s is silence; the restart continues after the trickled bytes.
    const QString tricklePath = QStringLiteral("/trickle/trickle.bin");
    const auto trickles = Matching(log, QStringLiteral("TRICKLE"), tricklePath);
    ASSERT_EQ(trickles.size(), 1u);
    const std::int64_t trickleRestart = RestartedAt(log, trickles[0]);
    EXPECT_GT(trickleRestart, trickles[0].first + FaultBytes);
    EXPECT_LE(trickleRestart, trickles[0].first + trickles[0].sent);

    // A wrong answer stores nothing: the segment is asked for again from the same byte.
    const std::vector<std::pair<QString, QString>> wrongAnswers = {
        {QStringLiteral("WHOLE"), QStringLiteral("/whole-once/whole-once.bin")},
        {QStringLiteral("SHIFTED"), QStringLiteral("/shifted-once/shifted-once.bin")}};
    for (const auto& [kind, path] : wrongAnswers) {
        SCOPED_TRACE(path.toStdString());
        const auto wrong = Matching(log, kind, path);
        ASSERT_EQ(wrong.size(), 1u);
        EXPECT_EQ(RestartedAt(log, wrong[0]), wrong[0].first);
    }

    // A server that answers every later range with the whole file: one segment, from byte 0.
    const DownloadRecord& whole = engine.record(*downloads[QStringLiteral("whole")]);
    EXPECT_EQ(whole.SegmentCount, 1);
    EXPECT_EQ(whole.RangesSupported, FlagFalse);
    EXPECT_EQ(downloads[QStringLiteral("whole")]->observer.planned, (std::vector<int>{8, 1}));
    EXPECT_FALSE(
        Matching(log, QStringLiteral("WHOLE"), QStringLiteral("/whole/whole.bin")).empty());

    // Good answers, heads cut in pieces included, are taken at once: the probe and one request
    // per segment, none asked again.
    for (const QString& mode : {QStringLiteral("plain"), QStringLiteral("split")}) {
        const QString path = u'/' + mode + u'/' + mode + QStringLiteral(".bin");
        EXPECT_EQ(Matching(log, QStringLiteral("GET"), path).size(), 9u) << mode.toStdString();
    }
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});
}

// A server killed mid-download: the download says it reconnects, with no speed and no time
// left, and after its tries fails with that reason, keeping its bytes and part files.
TEST(SessionWatchdog, AServerThatDiesIsReconnectedThenTheDownloadFailsKeepingItsBytes) {
    FaultServed rig;
    ASSERT_TRUE(rig.start()) << rig.server.error().toStdString();
    auto& [box, served, logPath, server] = rig;
    Engine engine(box.path());
    engine.settings.MaxSegments = 2;
    engine.settings.MaxTries = 2;
    engine.ctx.segmentSilenceMs = 3000;
    const QByteArray source = RandomBytes(FileSize);
    ASSERT_TRUE(WriteFile(served + QStringLiteral("/gone.bin"), source));
    Download& d = engine.fetch(server.url(QStringLiteral("/stall/gone.bin")));
    const DownloadRecord& r = engine.record(d);
    // Stopped once the other half is in too, however slowly a loaded machine brings it.
    ASSERT_TRUE(WaitFor([&] {
        return !Matching(ReadLog(logPath), QStringLiteral("STALL"),
                         QStringLiteral("/stall/gone.bin"))
                    .empty() &&
               r.BytesDone.bytes() >= FileSize / 2 + FaultBytes;
    }));
    server.stop();
    bool figuresShown = false;  // a speed or a time left while reconnecting
    ASSERT_TRUE(WaitFor(
        [&] {
            figuresShown |= !d.session->reconnecting().isEmpty() &&
                            (d.session->shownSpeed() || r.RemainingSeconds >= 0);
            return d.closed();
        },
        std::chrono::seconds(60)));
    EXPECT_FALSE(figuresShown);
    const QString words = QStringLiteral("Reconnecting (attempt %1): the server does not answer");
    EXPECT_EQ(d.observer.states.filter(QStringLiteral("Reconnecting")),
              (QStringList{words.arg(1), words.arg(2)}));
    EXPECT_EQ(d.observer.whys, QStringList{QStringLiteral("the server does not answer")});
    EXPECT_EQ(StateOf(r), ListEntryState::Failed);
    EXPECT_EQ(FailureCodeOf(r), FailureCode::StoppedAnswering) << "kept across a restart";
    EXPECT_GE(r.BytesDone.bytes(), FileSize / 2 + FaultBytes);
    std::int64_t stored = 0;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        const QByteArray part = StoredPart(r, j);
        EXPECT_TRUE(part == source.mid(s.EndPos.bytes() - s.Length.bytes() + 1, part.size()));
        stored += part.size();
    }
    EXPECT_EQ(stored, r.BytesDone.bytes()) << "the part file holds every byte counted";
}

// With the watchdog out of the way: a segment whose connection the server resets or cuts short
// connects again at once, from the first byte it lacks; one whose server hangs up every time is
// asked once more, then left to the watchdog's pace instead of being asked again and again.
TEST(SessionWatchdog, EarlyClosesConnectAgainAtOnceButNotForEver) {
    FaultServed rig;
    ASSERT_TRUE(rig.start()) << rig.server.error().toStdString();
    auto& [box, served, logPath, server] = rig;
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    engine.ctx.segmentSilenceMs = 3600 * 1000;
    std::map<QString, QByteArray> sources;
    std::map<QString, Download*> downloads;
    for (const QString mode : {"reset", "short-close", "hangup"}) {
        sources[mode] = RandomBytes(FileSize);
        ASSERT_TRUE(WriteFile(served + u'/' + mode + QStringLiteral(".bin"), sources[mode]));
        downloads[mode] =
            &engine.fetch(server.url(u'/' + mode + u'/' + mode + QStringLiteral(".bin")));
    }
    ASSERT_TRUE(
        WaitClosed({downloads["reset"], downloads["short-close"]}, std::chrono::seconds(60)))
        << "without the watchdog, only an immediate new connection finishes them";
    for (const QString mode : {"reset", "short-close"}) {
        const DownloadRecord& r = engine.record(*downloads[mode]);
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(sources[mode])) << mode.toStdString();
    }
    const std::vector<LogLine> log = ReadLog(logPath);
    const auto resets = Matching(log, QStringLiteral("RESET"), QStringLiteral("/reset/reset.bin"));
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(RestartedAt(log, resets[0]), resets[0].first + FaultBytes);

    // Each later segment of the server that always hangs up: its request and one more.
    const QString hangup = QStringLiteral("/hangup/hangup.bin");
    const auto laterRequests = [&] {
        std::map<std::int64_t, int> perSegment;
        for (const LogLine& l : ReadLog(logPath)) {
            if (l.kind == u"GET" && l.path == hangup && l.first > 0) {
                ++perSegment[l.last];
            }
        }
        return perSegment;
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto seen = laterRequests();
            return seen.size() == 7 && std::all_of(seen.begin(), seen.end(),
                                                   [](const auto& s) { return s.second >= 2; });
        },
        std::chrono::seconds(30)));
    WaitFor([] { return false; }, std::chrono::seconds(2));
    for (const auto& [last, count] : laterRequests()) {
        EXPECT_EQ(count, 2) << "segment ending at " << last;
    }
    EXPECT_FALSE(downloads["hangup"]->observer.finished);
}

// Without a length (the body ends with the connection) or chunked, the size is learnt at the
// end: one segment, and the file as sent.
TEST(SessionWatchdog, BodiesWithoutALengthArriveWhole) {
    FaultServed rig;
    ASSERT_TRUE(rig.start()) << rig.server.error().toStdString();
    auto& [box, served, logPath, server] = rig;

    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    std::map<QString, QByteArray> sources;
    std::map<QString, Download*> downloads;
    for (const QString& mode : {QStringLiteral("unsized"), QStringLiteral("chunked")}) {
        sources[mode] = RandomBytes(FileSize);
        ASSERT_TRUE(WriteFile(served + u'/' + mode + QStringLiteral(".bin"), sources[mode]));
        downloads[mode] =
            &engine.fetch(server.url(u'/' + mode + u'/' + mode + QStringLiteral(".bin")));
    }
    ASSERT_TRUE(
        WaitClosed({downloads[QStringLiteral("unsized")], downloads[QStringLiteral("chunked")]}));
    for (const auto& [mode, d] : downloads) {
        SCOPED_TRACE(mode.toStdString());
        const DownloadRecord& r = engine.record(*d);
        EXPECT_TRUE(d->observer.finished) << d->observer.whys.join(u'|').toStdString();
        EXPECT_EQ(r.SegmentCount, 1);
        EXPECT_EQ(r.FileSize.bytes(), FileSize);
        EXPECT_EQ(r.BytesDone.bytes(), FileSize);
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(sources[mode]));
    }
    EXPECT_EQ(engine.prompts.messages, QStringList{});
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});
}

// Over TLS the end of a body without a length is only believed from a clean TLS close: a peer
// that just drops the connection may have been cut short, so the download does not complete
// on it (the watchdog asks again later).
TEST(SessionWatchdog, AnUnsizedTlsBodyCutWithoutCloseNotifyIsNotTheEnd) {
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
    PeerProcess server;
    ASSERT_TRUE(server.start(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral(BRENLOFT_SOURCE_DIR "/tests/net/tls_test_server.py"),
                              certificates.file(QStringLiteral("good.pem")),
                              certificates.file(QStringLiteral("server.key")),
                              QStringLiteral("truncate"), QStringLiteral("100000")}));
    const int port = server.firstLine().toInt();
    ASSERT_GT(port, 0);
    Sandbox box;
    Engine engine(box.path());
    engine.sockets.setTlsCaFile(certificates.file(QStringLiteral("ca.pem")));
    Download& d = engine.fetch(QStringLiteral("https://127.0.0.1:%1/cut.bin").arg(port));
    const DownloadRecord& r = engine.record(d);
    ASSERT_TRUE(WaitFor([&] { return r.BytesDone.bytes() == 100000; }));
    // The close follows the last byte at once; without the rule it completes the download.
    WaitFor([] { return false; }, std::chrono::milliseconds(1000));
    EXPECT_FALSE(d.observer.finished);
    EXPECT_TRUE(Unfinished(r));
    EXPECT_EQ(r.SegmentCount, 1);
}
