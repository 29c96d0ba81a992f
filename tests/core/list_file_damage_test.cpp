#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <cstring>

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
