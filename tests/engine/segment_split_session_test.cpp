// Ranges of running segments split off for free connections, end to end against real servers on
// loopback: a plan with one segment left is spread over every connection (over HTTP and FTP), a
// plan of more records than connections is paused, saved, loaded and finished, and brenloft-get
// killed after a split finishes the file when run again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include "core/download_list/resume_rebase.h"
#include "core/types/tick.h"
#include "engine/session/segment_plan.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/ftp_peers.h"
#include "tests/support/get_command.h"
#include "tests/support/nginx_peer.h"

using namespace session_test;

namespace {

constexpr std::int64_t MiB = 1024 * 1024;

class SegmentSplitting : public ::testing::Test {
protected:
    // Readable by everyone: vsftpd reads the served files as its own user.
    void SetUp() override {
        served = box.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served));
        for (const QString& folder : {box.path(), served}) {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::ExeOther);
        }
    }

    QByteArray serve(const QString& name, qsizetype size) {
        QByteArray bytes = RandomBytes(size);
        EXPECT_TRUE(WriteFile(served + u'/' + name, bytes));
        QFile::setPermissions(served + u'/' + name, QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ReadGroup | QFile::ReadOther);
        return bytes;
    }

    Sandbox box;
    QString served;
};

class OverHttpAndFtp : public SegmentSplitting, public ::testing::WithParamInterface<bool> {};

// Lays out the entry's plan as a run cut short leaves it: segments of `lengths` bytes in order,
// the first `complete` of them stored whole, the others not begun; in the one file all share,
// or with `ownParts` as a list from before has it, each in a part file of its own.
void HandMadePlan(Engine& engine, int slot, const QByteArray& data,
                  const std::vector<std::int64_t>& lengths, int complete, bool ownParts = false) {
    DownloadRecord& r = engine.record(slot);
    r.FileSize = Currency::fromBytes(data.size());
    r.RangesSupported = FlagTrue;
    PlanSegments(r, int(lengths.size()), MillisecondTick(), engine.settings.TempFolder);
    std::int64_t first = 0;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        SegmentRecord& s = *r.Segments.at(j);
        s.StartPos = Currency::fromBytes(first);
        s.Length = Currency::fromBytes(lengths[j - 1]);
        s.EndPos = Currency::fromBytes(first + lengths[j - 1] - 1);
        if (ownParts) {
            QFile::remove(s.PartFile);
            s.PartFile =
                engine.settings.TempFolder + QStringLiteral("old%1.tmp").arg(j, 3, 10, QChar(u'0'));
        }
        if (j <= complete) {
            QFile part(s.PartFile);
            ASSERT_TRUE(part.open(QIODevice::ReadWrite) && part.seek(ownParts ? 0 : first) &&
                        part.write(data.mid(first, lengths[j - 1])) == lengths[j - 1]);
            s.Done = s.Length;
            s.StartPos += s.Length;
            s.State = SegmentState::Complete;
            r.BytesDone += s.Length;
        }
        first += lengths[j - 1];
    }
    ASSERT_EQ(first, data.size());
    RebaseForResume(r);
}

// The file is whole, built from records that still cover it in order without gap or overlap,
// each fetched once into the one file (or with `ownParts` a part file of its own), and no part
// file is left.
void ExpectWhole(Engine& engine, const Download& d, const QByteArray& data, bool ownParts = false) {
    const DownloadRecord& r = engine.record(d);
    SCOPED_TRACE(Ranges(r).join(u' ').toStdString());
    EXPECT_TRUE(d.observer.finished) << d.observer.whys.join(u'|').toStdString();
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(data));
    EXPECT_EQ(r.BytesDone.bytes(), data.size()) << "no byte was counted twice";
    std::int64_t next = 0;
    QStringList parts;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        EXPECT_EQ(s.EndPos.bytes() - s.Length.bytes() + 1, next) << "segment " << j;
        EXPECT_EQ(s.State, SegmentState::Complete) << "segment " << j;
        EXPECT_EQ((s.Done + s.Received).bytes(), s.Length.bytes()) << "segment " << j;
        next = s.EndPos.bytes() + 1;
        parts << s.PartFile;
    }
    EXPECT_EQ(next, data.size());
    parts.removeDuplicates();
    EXPECT_EQ(parts.size(), ownParts ? r.SegmentCount : 1);
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});
}

}  // namespace

// Seven of eight segments stored and the eighth holding nearly all the file: the seven free
// connections each split a range off what is left, and the file still arrives whole.
TEST_P(OverHttpAndFtp, SplitsOfTheLastSegmentArriveWhole) {
    const bool ftp = GetParam();
    constexpr std::int64_t Rate = MiB;  // per connection: the transfer takes a few seconds
    const QByteArray data = serve(QStringLiteral("rest.bin"), 16 * MiB);
    NginxPeer nginx(served);
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), Rate);
    VsftpdPeer vsftpd(served);
    vsftpd.setRateLimit(Rate);
    QString url;
    if (ftp) {
        ASSERT_TRUE(vsftpd.start()) << vsftpd.error().toStdString();
        url = vsftpd.url(QStringLiteral("/rest.bin"));
    } else {
        ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
        url = nginx.url(QStringLiteral("/slow/rest.bin"));
    }
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    const int slot = engine.add(url);
    std::vector<std::int64_t> lengths(7, 256 * 1024);
    lengths.push_back(data.size() - 7 * 256 * 1024);
    HandMadePlan(engine, slot, data, lengths, 7);

    Download& d = engine.start(slot);
    ASSERT_TRUE(WaitClosed({&d}, std::chrono::seconds(120)));
    ExpectWhole(engine, d, data);
    EXPECT_GT(engine.record(d).SegmentCount, 8) << "the last segment was split";
    EXPECT_GT(d.observer.planned.size(), 1u) << "each split is told, so the list is saved";
}

INSTANTIATE_TEST_SUITE_P(SegmentSplitting, OverHttpAndFtp, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Ftp" : "Http"; });

// Twelve records of a list from before, each with a part file of its own, paused part way,
// saved and loaded by the program started again: they run on eight connections, the waiting
// ones are split into parts of their own once connections fall free, and the file is joined
// from the parts in their order.
TEST_F(SegmentSplitting, MoreRecordsThanConnectionsPauseSaveAndResume) {
    const QByteArray data = serve(QStringLiteral("twelve.bin"), 36 * MiB);
    NginxPeer nginx(served);
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), MiB);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();

    int slot = 0;
    QStringList saved;
    {
        Engine first(box.path());
        slot = first.add(nginx.url(QStringLiteral("/slow/twelve.bin")));
        HandMadePlan(first, slot, data, std::vector<std::int64_t>(12, 3 * MiB), 0, true);
        Download& d = first.start(slot);
        DownloadRecord& r = first.record(d);
        ASSERT_TRUE(WaitFor([&] { return r.BytesDone.bytes() > MiB; }, std::chrono::seconds(60)));
        d.session->PauseDownload();
        ASSERT_EQ(StateOf(r), ListEntryState::Paused);
        ASSERT_EQ(r.SegmentCount, 12);
        ASSERT_LT(r.BytesDone.bytes(), data.size()) << "paused part way";
        ASSERT_EQ(SaveList(first.list, first.listPath()), QString());
        saved = first.partFiles(slot);
    }

    Engine second(box.path());
    ASSERT_EQ(LoadList(second.list, second.listPath()).error, QString());
    DownloadRecord& r = second.record(slot);
    ASSERT_EQ(r.SegmentCount, 12);
    RebaseForResume(r);
    Download& d = second.start(slot);
    ASSERT_TRUE(WaitClosed({&d}, std::chrono::seconds(120)));
    ExpectWhole(second, d, data, true);
    ASSERT_FALSE(d.observer.planned.empty());
    EXPECT_EQ(d.observer.planned.front(), 8) << "connections, not records";
    EXPECT_GT(r.SegmentCount, 12) << "the segments that waited were split";
    // Splits go in after the record they cut: the saved twelve keep their order.
    const QStringList parts = second.partFiles(slot);
    qsizetype at = 0;
    for (const QString& part : saved) {
        at = parts.indexOf(part, at);
        ASSERT_GE(at, 0) << part.toStdString() << " in " << parts.join(u' ').toStdString();
    }
}

// brenloft-get killed once a split has been saved in its list, run again with the same command:
// the file arrives whole and no part file is left behind.
TEST_F(SegmentSplitting, KilledAfterASplitTheSameCommandFinishes) {
    ASSERT_TRUE(QDir().mkpath(box.file(QStringLiteral("home"))));
    const QByteArray data = serve(QStringLiteral("mixed.bin"), 32 * MiB);
    NginxPeer nginx(served);
    // Every fifth connection crawls, so the others run out of work first and take over its range.
    nginx.addLocation(QStringLiteral("location /mixed/ { alias \"%1/\"; limit_rate 1m; "
                                     "if ($connection ~ \"[05]$\") { set $limit_rate 100k; } }")
                          .arg(served));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString target = box.file(QStringLiteral("out"));
    const QStringList arguments =
        EightSegmentsInto(target, nginx.url(QStringLiteral("/mixed/mixed.bin")));

    QProcess first;
    PrepareGet(first, box, box.path());
    QProcessEnvironment env = first.processEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("brenloft.engine.info=true"));
    first.setProcessEnvironment(env);
    ASSERT_TRUE(StartGet(first, arguments));
    const QString temp = target + QStringLiteral("/.brenloft-get/temp");
    // Killed the moment a split shows: the list must already name the new part, or the run
    // again would leave it behind.
    QByteArray story;
    const bool timedOut = !WaitFor(
        [&] {
            story += first.readAllStandardError();
            return first.state() != QProcess::Running || story.contains(" split: segment ");
        },
        std::chrono::seconds(90));
    ASSERT_TRUE(!timedOut && first.state() == QProcess::Running)
        << "killed while downloading, after a split: " << story.toStdString();
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));

    const GetRun second = RunGet(box, arguments, box.path());
    EXPECT_EQ(second.exitCode, 0) << second.err.join(u'\n').toStdString();
    EXPECT_EQ(FileSha256(target + QStringLiteral("/mixed.bin")), Sha256(data));
    EXPECT_EQ(QDir(temp).entryList(QDir::Files), QStringList{});
    EXPECT_EQ(QDir(target).entryList(QDir::Files), QStringList{QStringLiteral("mixed.bin")});
}
