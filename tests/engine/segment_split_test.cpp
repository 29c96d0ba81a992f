#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <cmath>

#include "core/download_list/records.h"
#include "engine/session/segment_plan.h"
#include "engine/session/segment_split.h"
#include "tests/support/sandbox.h"

namespace {

constexpr std::int64_t kMiB = 1048576;

// Record order must stay range order, covering the file once, or the join builds a wrong file.
::testing::AssertionResult CoversOnce(const DownloadRecord& r) {
    std::int64_t next = 0;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        if (s.EndPos.bytes() - s.Length.bytes() + 1 != next) {
            return ::testing::AssertionFailure() << "record " << j << " does not start at " << next;
        }
        next = s.EndPos.bytes() + 1;
    }
    if (next != r.FileSize.bytes() || r.Segments.upperBound() != r.SegmentCount) {
        return ::testing::AssertionFailure() << "ranges end at " << next;
    }
    return ::testing::AssertionSuccess();
}

// Consecutive unstarted segments with the given lengths.
DownloadRecord Ranges(const std::vector<std::int64_t>& lengths) {
    DownloadRecord r;
    r.Segments.redim(int(lengths.size()));
    r.SegmentCount = std::int16_t(lengths.size());
    std::int64_t start = 0;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        SegmentRecord& s = *r.Segments.at(j);
        s.StartPos = Currency::fromBytes(start);
        s.Length = Currency::fromBytes(lengths[j - 1]);
        start += lengths[j - 1];
        s.EndPos = Currency::fromBytes(start - 1);
        s.InPlan = FlagTrue;
    }
    r.FileSize = Currency::fromBytes(start);
    return r;
}

}  // namespace

TEST(SegmentSplit, MinimumAndRemainingSizes) {
    const struct {
        double rate;
        std::int64_t minimum;
    } rows[] = {{0, kMiB},   {1000, kMiB}, {5e6, 2500000},
                {NAN, kMiB}, {-5e6, kMiB}, {INFINITY, kMiB}};
    for (const auto& row : rows) {
        EXPECT_EQ(MinimumSplitSize(row.rate), row.minimum) << row.rate;
    }
    // Nothing is left to take from a finished, unplanned or rangeless segment.
    const struct {
        std::int16_t state, inPlan;
        std::int64_t length, received, remaining;
    } segments[] = {{SegmentState::Receiving, FlagTrue, 10, 3, 7},
                    {SegmentState::Complete, FlagTrue, 10, 3, 0},
                    {SegmentState::Receiving, FlagFalse, 10, 3, 0},
                    {SegmentState::Idle, FlagTrue, 0, 0, 0},
                    {SegmentState::Receiving, FlagTrue, 10, 12, 0}};
    for (const auto& row : segments) {
        SegmentRecord s = *Ranges({5, row.length}).Segments.at(2);
        s.State = row.state;
        s.InPlan = row.inPlan;
        s.Received = Currency::fromBytes(row.received);
        EXPECT_EQ(RemainingBytes(s), row.remaining) << row.length << " " << row.received;
    }
}

// Splits of a plan in one file stay in it; a list from before, whose segments each have a part
// file, gives each split a name of its own that no file has.
TEST(SegmentSplit, RepeatedSplitsKeepTheFileCoveredOnceInOneFileOrDistinctParts) {
    for (const bool ownParts : {false, true}) {
        SCOPED_TRACE(ownParts ? "part files of their own" : "one file");
        Sandbox box;
        const QString temp = box.path() + u'/';
        QFile(temp + QStringLiteral("f.bin009.tmp")).open(QIODevice::WriteOnly);  // another's
        DownloadRecord r;
        r.FileName = QStringLiteral("f.bin");
        r.FileSize = Currency::fromBytes(40 * kMiB + 3);
        PlanSegments(r, 8, 0, temp);
        for (int j = 1; ownParts && j <= 8; ++j) {
            r.Segments.at(j)->PartFile = temp + QStringLiteral("f.bin00%1.tmp").arg(j);
            ASSERT_TRUE(j == 1 || CreatePartFile(r.Segments.at(j)->PartFile));
        }
        r.Segments.at(2)->Received = Currency::fromBytes(3 * kMiB);
        r.Segments.at(5)->Received = Currency::fromBytes(12345);
        r.Segments.at(7)->Received = r.Segments.at(7)->Length;
        r.Segments.at(7)->State = SegmentState::Complete;
        const std::int64_t minimum = MinimumSplitSize(0);
        for (int splits = 1;; ++splits) {
            const int j = SegmentToSplit(r, minimum, std::vector<bool>(r.SegmentCount + 1, true));
            if (j == 0) {
                break;
            }
            ASSERT_LT(splits, 100);
            const SegmentRecord before = *r.Segments.at(j);
            const std::int64_t cut = SplitPoint(before);
            ASSERT_GT(cut, before.StartPos.bytes() + before.Received.bytes());
            ASSERT_EQ(SplitSegment(r, j, cut, 5, temp), j + 1);
            ASSERT_TRUE(CoversOnce(r)) << "after split " << splits;
            const SegmentRecord& added = *r.Segments.at(j + 1);
            EXPECT_EQ(r.Segments.at(j)->Received, before.Received);
            EXPECT_EQ(added.StartPos.bytes(), cut);
            EXPECT_EQ(added.EndPos, before.EndPos);
            EXPECT_EQ(added.Received.bytes() + added.Done.bytes(), 0);
            EXPECT_EQ(added.InPlan, FlagTrue);
            EXPECT_EQ(added.SegTick, 5);
            if (ownParts) {
                EXPECT_FALSE(QFile::exists(added.PartFile)) << "named, made by the caller";
                ASSERT_TRUE(CreatePartFile(added.PartFile));
                if (splits == 1) {
                    EXPECT_EQ(added.PartFile, temp + QStringLiteral("f.bin010.tmp"));
                }
            } else {
                EXPECT_EQ(added.PartFile, before.PartFile);
            }
            r.Segments.at(j + 1)->Received = Currency::fromBytes(1000 * splits);  // under way
        }
        EXPECT_GT(r.SegmentCount, 8);
        QSet<QString> parts;
        for (int j = 1; j <= r.SegmentCount; ++j) {
            const SegmentRecord& s = *r.Segments.at(j);
            EXPECT_LE(RemainingBytes(s), 2 * minimum) << j;
            EXPECT_TRUE(QFile::exists(s.PartFile)) << j;
            parts.insert(s.PartFile);
        }
        EXPECT_EQ(parts.size(), ownParts ? r.SegmentCount : 1);
    }
}

TEST(SegmentSplit, BoundariesOfChoiceShareAndCut) {
    const std::int64_t m = kMiB;
    const struct {
        std::vector<std::int64_t> lengths;
        std::vector<bool> running;
        int chosen;
    } choices[] = {{{2 * m}, {false, true}, 0},
                   {{2 * m + 1}, {false, true}, 1},
                   {{2 * m + 1, 2 * m + 1}, {false, true, true}, 1},
                   {{2 * m + 1, 2 * m + 5}, {false, true, true}, 2},
                   {{2 * m + 1, 2 * m + 5}, {false, true, false}, 1}};
    for (const auto& row : choices) {
        EXPECT_EQ(SegmentToSplit(Ranges(row.lengths), m, row.running), row.chosen)
            << row.lengths.back();
    }
    DownloadRecord full = Ranges({4 * m});
    full.SegmentCount = kMaxSegmentRecords;
    EXPECT_EQ(SegmentToSplit(full, m, std::vector<bool>(kMaxSegmentRecords + 1, true)), 0);

    // Cuts counted from the next unfetched byte, 100 bytes into a segment starting at 7.
    const struct {
        std::int64_t remaining;
        double keep;
        std::int64_t kept;  // -1: no cut
    } shares[] = {{10, 0, 1}, {10, 1, 9}, {10, 0.5, 5}, {5, 0.5, 2},  {10, 0.33, 3},
                  {2, 0, 1},  {2, 1, 1},  {1, 0.5, -1}, {10, NAN, 5}, {10, -3, 1}};
    for (const auto& row : shares) {
        SegmentRecord s = *Ranges({7, 100 + row.remaining}).Segments.at(2);
        s.Received = Currency::fromBytes(100);
        EXPECT_EQ(SplitPoint(s, row.keep), row.kept < 0 ? -1 : 107 + row.kept)
            << row.remaining << " " << row.keep;
    }

    Sandbox box;
    DownloadRecord r = Ranges({10, 20});
    r.Segments.at(2)->Received = Currency::fromBytes(5);  // next unfetched byte: 15
    const DownloadRecord before = r;
    for (const auto& [j, cut] : {std::pair{2, 15}, {2, 14}, {2, 30}, {0, 20}, {3, 20}}) {
        EXPECT_EQ(SplitSegment(r, j, cut, 0, box.path() + u'/'), 0) << j << " " << cut;
        EXPECT_EQ(r, before);
    }
    EXPECT_TRUE(QDir(box.path()).isEmpty());
    EXPECT_EQ(SplitSegment(r, 2, 29, 0, box.path() + u'/'), 3);  // the last byte alone
    EXPECT_EQ(r.Segments.at(3)->Length.bytes(), 1);
    EXPECT_TRUE(CoversOnce(r));
}
