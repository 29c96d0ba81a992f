#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <cstring>
#include <limits>

#include "core/download_list/list_file_format.h"

// A damaged or hostile list file must load the whole records it holds, never read past its
// end, and never allocate from a count it cannot back with bytes.

namespace {

DownloadListState ListOf(int entries) {
    DownloadListState list;
    for (int i = 1; i <= entries; ++i) {
        DownloadRecord r;
        r.Url = QStringLiteral("http://host/file%1.bin").arg(i);
        r.Active = FlagTrue;
        r.Segments.redim(i % 3);
        for (SegmentRecord& s : r.Segments.items) {
            s.PartFile = QStringLiteral("/tmp/part%1").arg(i);
        }
        list.DownloadList.append(r);
    }
    list.DownloadCount = static_cast<std::int16_t>(entries);
    SiteLogin login;
    login.Site = QStringLiteral("host");
    list.SiteLoginList.append(login);
    list.SiteLoginCount = 1;
    return list;
}

void PutAt(QByteArray& bytes, qsizetype offset, const void* value, size_t size) {
    std::memcpy(bytes.data() + offset, value, size);
}

}  // namespace

TEST(ListFileDamage, EveryTruncationLoadsAWholePrefixOfTheEntries) {
    const DownloadListState full = ListOf(6);
    const QByteArray bytes = EncodeListFile(full);
    for (qsizetype length = 0; length < bytes.size(); ++length) {
        DownloadListState list;
        const ListLoadResult result = DecodeListFile(bytes.left(length), list);
        EXPECT_FALSE(result.complete) << length;
        ASSERT_EQ(list.DownloadList.size(), list.DownloadCount + 1) << length;
        ASSERT_LE(list.DownloadCount, full.DownloadCount);
        for (int slot = 1; slot <= list.DownloadCount; ++slot) {
            ASSERT_EQ(list.DownloadList[slot], full.DownloadList[slot]) << length;
        }
        EXPECT_EQ(list.SiteLoginList.size(), list.SiteLoginCount + 1);
    }
}

TEST(ListFileDamage, HugeCountsAndLengthsAreRejectedBeforeAllocating) {
    const QByteArray good = EncodeListFile(ListOf(1));
    DownloadListState list;

    QByteArray bytes = good;
    const std::int16_t manyEntries = 32767;
    PutAt(bytes, 4, &manyEntries, 2);
    DecodeListFile(bytes, list);
    EXPECT_EQ(list.DownloadCount, 1);  // the two records present, no more

    bytes = good;
    const std::int16_t negative = -5;
    PutAt(bytes, 4, &negative, 2);
    EXPECT_FALSE(DecodeListFile(bytes, list).complete);
    EXPECT_EQ(list.DownloadCount, 0);

    // Slot 1's segment array: dimension count, element count, lower bound after IsUpdate.
    const qsizetype slot1 = 6 + 112;
    bytes = good;
    const std::int32_t hugeCount = 0x7fffffff;
    PutAt(bytes, slot1 + 4, &hugeCount, 4);
    DecodeListFile(bytes, list);
    EXPECT_EQ(list.DownloadCount, 0);

    bytes = good;
    const std::int16_t threeDimensions = 3;
    PutAt(bytes, slot1 + 2, &threeDimensions, 2);
    DecodeListFile(bytes, list);
    EXPECT_EQ(list.DownloadCount, 0);

    // The login count at the end.
    bytes = good;
    const std::int32_t logins = 0x40000000;
    const qsizetype loginCount = bytes.size() - 14 - (14 + 4) - 4;
    PutAt(bytes, loginCount, &logins, 4);
    const ListLoadResult result = DecodeListFile(bytes, list);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(list.DownloadCount, 1);
    EXPECT_EQ(list.SiteLoginCount, 0);
}

TEST(ListFileDamage, FlippedBitsNeverBreakTheLoader) {
    const QByteArray good = EncodeListFile(ListOf(8));
    QRandomGenerator random(20261208);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = good;
        const int flips = 1 + random.bounded(8);
        for (int i = 0; i < flips; ++i) {
            const qsizetype at = random.bounded(bytes.size());
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << random.bounded(8)));
        }
        DownloadListState list;
        DecodeListFile(bytes, list);
        ASSERT_EQ(list.DownloadList.size(), list.DownloadCount + 1);
        ASSERT_EQ(list.SiteLoginList.size(), list.SiteLoginCount + 1);
        // Whatever loaded must save again and load back the same.
        DownloadListState again;
        DecodeListFile(EncodeListFile(list), again);
        ASSERT_EQ(again.DownloadCount, list.DownloadCount);
    }
}

// An entry whose saved plan a resume would walk outside its table or its ranges is dropped
// alone, with a message; the entries around it load as saved.
TEST(ListFileDamage, EntryWithAPlanNoResumeCanWalkIsDroppedAlone) {
    const struct {
        const char* damage;
        std::int16_t count;
        std::int32_t lowerBound;
        std::int64_t length, gap, receivedRaw;  // of each segment; before segment 2; by segment 1
        bool dropped;
    } rows[] = {
        {"none", 2, 0, 1000, 0, 0, false},
        {"none: size unknown, bytes received", 1, 0, 0, 0, 7000000, false},
        {"count past its table", 3, 0, 1000, 0, 0, true},
        {"negative count", -2, 0, 1000, 0, 0, true},
        {"table from index 2", 2, 2, 1000, 0, 0, true},
        {"gap between the segments", 2, 0, 1000, 5, 0, true},
        {"received past its end", 2, 0, 1000, 0, 10010000, true},
        {"size unknown, received the most", 1, 0, 0, 0, std::numeric_limits<std::int64_t>::max(),
         true},
    };
    for (const auto& row : rows) {
        DownloadListState saved = ListOf(3);
        DownloadRecord& r = saved.DownloadList[2];
        r.Segments.redim(2);
        for (int j = 1; j <= 2; ++j) {
            r.Segments.at(j)->StartPos = Currency::fromBytes((j - 1) * (row.length + row.gap));
            r.Segments.at(j)->EndPos = Currency::fromBytes(j * row.length + (j - 1) * row.gap - 1);
            r.Segments.at(j)->Length = Currency::fromBytes(row.length);
        }
        r.Segments.at(1)->Received = Currency::fromRaw(row.receivedRaw);
        r.Segments.lowerBound = row.lowerBound;
        r.SegmentCount = row.count;
        DownloadListState list;
        const ListLoadResult result = DecodeListFile(EncodeListFile(saved), list);
        ASSERT_EQ(list.DownloadCount, 3) << row.damage;
        EXPECT_EQ(list.DownloadList[1], saved.DownloadList[1]) << row.damage;
        EXPECT_EQ(list.DownloadList[2], row.dropped ? DownloadRecord{} : r) << row.damage;
        EXPECT_EQ(result.error.contains(QStringLiteral("entry 2 ")), row.dropped) << row.damage;
        EXPECT_EQ(list.DownloadList[3], saved.DownloadList[3]) << row.damage;
    }
}
