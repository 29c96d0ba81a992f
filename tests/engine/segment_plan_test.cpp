#include <gtest/gtest.h>

#include <QFile>

#include "core/download_list/records.h"
#include "engine/http/chunked_decoder.h"
#include "engine/http/content_range.h"
#include "engine/session/segment_plan.h"
#include "tests/support/sandbox.h"

TEST(SegmentPlan, CountFollowsSizeLimitRangesAndLimiter) {
    EXPECT_EQ(PlannedSegmentCount(49999, 8, true, false), 1);
    EXPECT_EQ(PlannedSegmentCount(50000, 8, true, false), 2);
    EXPECT_EQ(PlannedSegmentCount(299999, 8, true, false), 2);
    EXPECT_EQ(PlannedSegmentCount(300000, 8, true, false), 8);
    EXPECT_EQ(PlannedSegmentCount(300000, 4, true, false), 4);
    EXPECT_EQ(PlannedSegmentCount(300000, 4, false, false), 1);
    EXPECT_EQ(PlannedSegmentCount(300000, 4, true, true), 1);
    // A stored maximum of 0 or less, or above the eight slots, stays usable.
    EXPECT_EQ(PlannedSegmentCount(300000, 0, true, false), 1);
    EXPECT_EQ(PlannedSegmentCount(300000, -3, true, false), 1);
    EXPECT_EQ(PlannedSegmentCount(300000, 50, true, false), 8);
}

TEST(SegmentPlan, FirstSegmentTakesTheRemainderAndPartNamesSkipExistingFiles) {
    Sandbox box;
    const QString temp = box.path() + u'/';
    for (const char* taken : {"f.bin001.tmp", "f.bin003.tmp"}) {
        QFile(temp + QLatin1String(taken)).open(QIODevice::WriteOnly);
    }
    DownloadRecord r;
    r.FileName = QStringLiteral("f.bin");
    r.FileSize = Currency::fromBytes(1000003);
    PlanSegments(r, 4, 77, temp);
    ASSERT_EQ(r.SegmentCount, 4);
    const std::int64_t expected[4][2] = {
        {0, 250002}, {250003, 500002}, {500003, 750002}, {750003, 1000002}};

    for (int j = 1; j <= 4; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        EXPECT_EQ(s.StartPos.bytes(), expected[j - 1][0]);
        EXPECT_EQ(s.EndPos.bytes(), expected[j - 1][1]);
        EXPECT_EQ(s.Length.bytes(), expected[j - 1][1] - expected[j - 1][0] + 1);
        EXPECT_EQ(s.InPlan, FlagTrue);
        EXPECT_EQ(s.Watched, FlagTrue);
        EXPECT_EQ(s.PartFile, temp + QStringLiteral("f.bin002.tmp")) << "one file, a free name";
    }

    // Unknown size: one segment with nothing planned.
    DownloadRecord unknown;
    unknown.FileName = QStringLiteral("u");
    PlanSegments(unknown, 1, 0, temp);
    EXPECT_EQ(unknown.Segments.at(1)->EndPos.bytes(), -1);
    EXPECT_EQ(unknown.Segments.at(1)->Length.bytes(), 0);

    // Above 4 GiB the arithmetic stays exact.
    DownloadRecord big;
    big.FileName = QStringLiteral("big");
    big.FileSize = Currency::fromBytes(5368709123LL);
    PlanSegments(big, 8, 0, temp);
    EXPECT_EQ(big.Segments.at(8)->EndPos.bytes(), 5368709122LL);
    EXPECT_EQ(big.Segments.at(1)->Length.bytes(), 671088643LL);

    // Names that would escape the folder or overflow a file name stay one short entry.
    DownloadRecord odd;
    odd.FileName = QStringLiteral("../") + QString(300, u'x');
    PlanSegments(odd, 1, 0, temp);
    const QString part = odd.Segments.at(1)->PartFile;
    EXPECT_TRUE(part.startsWith(temp));
    EXPECT_FALSE(part.mid(temp.size()).contains(u'/'));
    EXPECT_LE(part.mid(temp.size()).toUtf8().size(), 255);
}

TEST(ChunkedBody, DecodesAtEverySplitAndRejectsBadSizes) {
    const QByteArray body =
        "4\r\nWiki\r\n5;ext=1\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nX-T: 1\r\n\r\n";
    for (qsizetype cut = 0; cut <= body.size(); ++cut) {
        ChunkedDecoder decoder;
        QByteArray out;
        decoder.feed(body.constData(), cut, out);
        const auto result = decoder.feed(body.constData() + cut, body.size() - cut, out);
        ASSERT_EQ(result, ChunkedDecoder::Result::Done) << cut;
        ASSERT_EQ(out, QByteArray("Wikipedia in\r\n\r\nchunks.")) << cut;
    }
    for (const char* bad : {"-5\r\n", "zz\r\n", "fffffffffffffffff\r\n", "4\r\nWikiX\r\n"}) {
        ChunkedDecoder decoder;
        QByteArray out;
        EXPECT_EQ(decoder.feed(bad, qsizetype(strlen(bad)), out), ChunkedDecoder::Result::Error)
            << bad;
    }
    // A size line that never ends is cut off rather than buffered without bound.
    ChunkedDecoder decoder;
    QByteArray out;
    const QByteArray endless(10000, '1');
    EXPECT_EQ(decoder.feed(endless.constData(), endless.size(), out),
              ChunkedDecoder::Result::Error);
}

TEST(ContentRangeHeader, ReadsTheRangeAndRejectsNonsense) {
    const auto range =
        FindContentRange("HTTP/1.1 206 Partial\r\ncontent-range: bytes 10-19/5000000000\r\n");
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->first, 10);
    EXPECT_EQ(range->last, 19);
    EXPECT_EQ(range->total, 5000000000LL);
    EXPECT_EQ(FindContentRange("Content-Range: bytes 0-9/*\r\n")->total, -1);
    for (const char* bad : {"Content-Range: bytes 9-0/10\r\n", "Content-Range: bytes 0-10/10\r\n",
                            "Content-Range: items 0-1/2\r\n", "Content-Range: bytes -1-2/3\r\n",
                            "Content-Type: text/plain\r\n"}) {
        EXPECT_FALSE(FindContentRange(bad).has_value()) << bad;
    }
}

TEST(ContentRangeHeader, AnAnswerMustBeTheRangeAskedOrEndShortOfIt) {
    const auto refusal = [](const char* header, std::int64_t last, bool mayEndEarly) {
        return RangeRefusal(FindContentRange(header), 1000, last, 5000, mayEndEarly);
    };
    EXPECT_EQ(refusal("Content-Range: bytes 1000-4999/5000", 4999, true), QString());
    EXPECT_EQ(refusal("Content-Range: bytes 1000-1999/*", 4999, true), QString());
    EXPECT_EQ(refusal("Content-Range: bytes 0-999/5000", 4999, true),
              QStringLiteral("the server sent another part of the file than asked: bytes "
                             "0-999/5000 for 1000-4999/5000"));
    EXPECT_TRUE(
        refusal("Content-Range: bytes 1000-2999/5000", 1999, true).contains("another part"));
    EXPECT_TRUE(
        refusal("Content-Range: bytes 1000-1999/5000", 4999, false).contains("another part"));
    EXPECT_TRUE(
        refusal("Content-Range: bytes 1000-1999/5001", 1999, true).contains("another size"));
    EXPECT_TRUE(refusal("Content-Length: 5", 1999, true).contains("did not say which part"));
}
