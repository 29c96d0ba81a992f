// The segments' parts on a session core alone: the writer puts each segment's bytes where they
// belong, and the HTTP and FTP segments take only the answers their segment asked for, from
// real peers on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <ostream>

#include "core/download_list/list_additions.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/session/ftp_probe.h"
#include "engine/session/ftp_segments.h"
#include "engine/session/http_segments.h"
#include "engine/session/segment_connections.h"
#include "engine/session/segment_plan.h"
#include "engine/session/segment_splitter.h"
#include "engine/session/segment_writer.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
#include "net/socket_class.h"
#include "tests/support/engine_rig.h"
#include "tests/support/ftp_peers.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/test_files.h"

namespace {

// The session, reduced to what its parts ask of it: the calls that end or build, noted.
class NotedActions : public SessionActions {
public:
    QStringList calls;
    void closeWith(const QString& why, const QString&) override { calls << "close " + why; }
    void stopPaused(const QString& why, const QString&) override { calls << "paused " + why; }
    void failWith(const QString& why) override { calls << "fail " + why; }
    void fileChanged(const QString& how) override { calls << "changed " + how; }
    bool probeAwaitsAnswer() const override { return false; }
    void restartProbeTimer() override {}
    void stopProbeTimer() override {}
    void endProbe() override {}
    void failProbeAttempt(const QString&) override {}
    void probeBusy(std::optional<std::int64_t>, std::int16_t) override {}
    void probeAgain() override {}
    void startSegments() override {}
    void waitForPreview() override {}
    void buildOutputFile() override { calls << QStringLiteral("build"); }
    void reportFinished() override {}
};

// A download of `size` bytes at `url` planned in two segments, on a core of its own.
class SegmentWriterTest : public ::testing::Test {
protected:
    DownloadRecord& plan(const QString& url, std::int64_t size) {
        core.recordIndex = static_cast<std::int16_t>(ChooseFreeSlot(rig.list));
        DownloadRecord& r = rig.record(core.recordIndex);
        FillNewRecord(r, ParseUrl(EncodeUrl(url)), EncodeUrl(url), 0, QString());
        r.FileSize = Currency::fromBytes(size);
        r.RangesSupported = FlagTrue;
        PlanSegments(r, 2, MillisecondTick(), rig.temp());
        return r;
    }

    EngineRig rig;
    SessionObserver observer;
    NotedActions actions;
    SessionCore core{rig.ctx, observer};
    SegmentWriter writer{core, actions};
};

TEST_F(SegmentWriterTest, WritesBehindWhatTheSegmentHoldsAndNoFurtherThanItsRange) {
    const struct {
        const char* name;
        bool folderGone;
        bool ownPart;       // a list from before: the segment has a part file of its own
        std::int64_t held;  // bytes of the segment in its part file already
        qsizetype given;
        qsizetype stored;
        bool full;
    } rows[] = {
        {"behind what an earlier connection stored", false, false, 4, 10, 10, false},
        {"a part of its own from a list from before", false, true, 4, 10, 10, false},
        {"a full segment takes no byte past its range", false, false, 0, 600, 500, true},
        {"a part file that cannot be written stores nothing", true, true, 0, 10, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DownloadRecord& r = plan(QStringLiteral("http://127.0.0.1:1/f.bin"), 1000);
        SegmentRecord& s = *r.Segments.at(2);
        if (row.ownPart) {
            s.PartFile = rig.temp() + (row.folderGone ? QStringLiteral("gone/") : QString()) +
                         QStringLiteral("old002.tmp");
        }
        // In the one file the segment's range begins after the first segment's 500 bytes.
        const QByteArray lead = row.ownPart ? QByteArray() : QByteArray(500, '\0');
        const QByteArray before = RandomBytes(row.held);
        ASSERT_TRUE(row.folderGone || WriteFile(s.PartFile, lead + before));
        s.Done = Currency::fromBytes(row.held);
        core.connections.assign(0, 2);
        const QByteArray given = RandomBytes(row.given);
        EXPECT_EQ(writer.store(0, given.constData(), given.size()), row.full);
        core.connections.release(0);
        EXPECT_EQ(ReadFile(s.PartFile),
                  row.folderGone ? QByteArray() : lead + before + given.left(row.stored));
        EXPECT_EQ(s.Received.bytes(), row.stored);
        EXPECT_EQ(r.BytesDone.bytes(), row.stored);
        EXPECT_EQ(actions.calls.size(), row.folderGone ? 1 : 0);
        EXPECT_EQ(actions.calls.value(0).startsWith(u"paused cannot write"), row.folderGone);
        actions.calls.clear();
    }
}

// The segments' parts together, their sockets' events routed as the session routes them.
class SegmentTransfers : public SegmentWriterTest {
protected:
    void SetUp() override {
        SocketClass& events = core.connections.probe().socket();
        QObject::connect(&events, &SocketClass::ConnectEvent, &events, [this](SocketClass* s) {
            const int k = core.connections.slotOf(s);
            if (k >= 0 && segments.connected(k) && !core.isFtp()) {
                http.sendRequest(*s, k);
            }
        });
        QObject::connect(&events, &SocketClass::DataReceivedEvent, &events,
                         [this](SocketClass* s, std::int32_t) {
                             const int k = core.connections.slotOf(s);
                             if (const int dk = core.connections.dataSlotOf(s); dk >= 0) {
                                 ftp.takeData(dk);
                             } else if (k >= 0 && core.isFtp()) {
                                 ftp.takeReplies(k);
                             } else if (k >= 0) {
                                 http.takeData(*s, k);
                             }
                         });
        QObject::connect(&events, &SocketClass::ClosedEvent, &events, [this](SocketClass* s) {
            if (const int k = core.connections.dataSlotOf(s); k >= 0) {
                ftp.dataClosed(k);
            }
        });
    }
    // Slot k connects for segment j.
    void connect(int k, int j) {
        core.connections.assign(k, j);
        core.connections[k].socket().SetEventSocket(core.sockGlobal());
        core.connectTo(core.connections[k].socket());
    }

    FtpProbe probe{core, actions};
    SegmentSplitter splitter{core};
    SegmentConnections segments{core, actions, splitter, ftp};
    FtpSegments ftp{core, segments, writer, probe};
    HttpSegments http{core, actions, segments, writer};
};

struct HttpRow {
    const char* mode;  // of the fault server
    int segments;      // at the end: a 200 for a range has the file fetched as one segment
    const char* call;
};

// The row's name in the test's name.
void PrintTo(const HttpRow& row, std::ostream* out) {
    *out << row.mode;
}

class HttpSegmentsTest : public SegmentTransfers, public ::testing::WithParamInterface<HttpRow> {};

TEST_P(HttpSegmentsTest, TakeOnlyTheRangeTheyAskedFor) {
    const HttpRow& row = GetParam();
    HttpFaultServer server;
    ASSERT_TRUE(server.start(rig.file(QStringLiteral("server.log"))))
        << server.error().toStdString();
    const QByteArray body = HttpFaultServer::Body(QLatin1String(row.mode), 100000);
    DownloadRecord& r = plan(server.url(QLatin1String(row.mode), 100000), 100000);
    r.Segments.at(1)->State = SegmentState::Complete;  // only segment 2 is fetched
    connect(0, 2);
    ASSERT_TRUE(WaitFor([&] { return !actions.calls.isEmpty(); }));
    EXPECT_TRUE(actions.calls.value(0).startsWith(QLatin1String(row.call)))
        << actions.calls.value(0).toStdString();
    ASSERT_EQ(r.SegmentCount, row.segments);
    const SegmentRecord& last = *r.Segments.at(row.segments);
    const bool stored = actions.calls.value(0) == u"build";
    EXPECT_EQ(StoredPart(r, row.segments),
              stored ? body.mid(100000 - last.Length.bytes()) : QByteArray());
}

INSTANTIATE_TEST_SUITE_P(
    Http, HttpSegmentsTest,
    ::testing::Values(HttpRow{"plain", 2, "build"},
                      // Asked again twice, the third 206 of another range ends the download.
                      HttpRow{"wrong-start-always", 2, "fail the server sent another part"},
                      HttpRow{"whole", 1, "build"}));

// 0: segment 2 alone, restarted at its first byte; 1: the server has one session for the two
// segments, so one of them waits until the other ends.
class FtpSegmentsTest : public SegmentTransfers, public ::testing::WithParamInterface<int> {};

TEST_P(FtpSegmentsTest, RestartAtTheirRangeAndWaitForAFreeSession) {
    const int sessions = GetParam();
    const QByteArray file = RandomBytes(100000);
    ASSERT_TRUE(QDir().mkpath(rig.file(QStringLiteral("served"))));
    ASSERT_TRUE(WriteFile(rig.file(QStringLiteral("served/f.bin")), file));
    PyFtpPeer server(rig.file(QStringLiteral("served")));
    server.setMaxSessionsPerAddress(sessions);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    DownloadRecord& r = plan(server.url(QStringLiteral("/f.bin")), file.size());
    if (sessions == 0) {
        r.Segments.at(1)->State = SegmentState::Complete;
    } else {
        connect(1, 1);
    }
    connect(0, 2);
    ASSERT_TRUE(WaitFor([&] { return !actions.calls.isEmpty(); }, std::chrono::seconds(20)));
    EXPECT_EQ(actions.calls, QStringList{QStringLiteral("build")});
    // Both write into the one file; the first segment's range stays as it was when it was not
    // fetched.
    EXPECT_EQ(ReadFile(r.Segments.at(2)->PartFile),
              (sessions == 0 ? QByteArray(50000, '\0') : file.left(50000)) + file.mid(50000));
    EXPECT_EQ(ftp.sessionsFull(), sessions == 1);
}

INSTANTIATE_TEST_SUITE_P(Ftp, FtpSegmentsTest, ::testing::Values(0, 1));

}  // namespace
