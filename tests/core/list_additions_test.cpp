#include <gtest/gtest.h>

#include "core/download_list/list_additions.h"
#include "tests/support/text_printer.h"

namespace {

DownloadListState ListOf(std::initializer_list<DownloadRecord> records) {
    DownloadListState list;
    for (const DownloadRecord& r : records) {
        list.DownloadList.append(r);
    }
    list.DownloadCount = static_cast<std::int16_t>(records.size());
    return list;
}

DownloadRecord Entry(const char* url, std::int16_t active = FlagTrue) {
    DownloadRecord r;
    r.Url = QString::fromUtf8(url);
    r.Active = active;
    return r;
}

// A slot as a finished, then removed download leaves it: every field holds something.
DownloadRecord Worn() {
    DownloadRecord r;
    r.IsUpdate = 1;
    r.Segments.redim(3);
    r.SegmentCount = 3;
    r.SiteLogins.redim(1);
    r.Reserved1 = 7;
    r.FileName = QStringLiteral("old.bin");
    r.UrlPath = QStringLiteral("/old.bin");
    r.HostName = QStringLiteral("old.example");
    r.Port = 8080;
    r.UserName = QStringLiteral("olduser");
    r.Password = QStringLiteral("oldpw");
    r.Reserved2 = QStringLiteral("0");
    r.Reserved3 = ReplacesEarlierFile;
    r.SavePath = QStringLiteral("/home/u/Downloads/old.bin");
    r.HasSavePath = FlagTrue;
    r.Reserved4 = 5;
    r.RangesSupported = FlagFalse;
    r.Failed = FlagTrue;
    r.RetryCount = 4;
    r.Reserved5 = QStringLiteral("r5");
    r.Referer = QStringLiteral("http://old.example/");
    r.Queued = 1;
    r.Scheduled = 1;
    r.Paused = FlagTrue;
    r.Resuming = FlagTrue;
    r.Priority = 2;
    r.LastTick = 123456;
    r.FileSize = Currency::fromBytes(1000);
    r.BytesDone = Currency::fromBytes(1000);
    r.ElapsedSeconds = 3.5f;
    r.RemainingSeconds = 1.5f;
    r.Active = FlagFalse;
    r.Transferring = FlagFalse;
    r.Completed = FlagTrue;
    r.Removed = FlagTrue;
    r.Running = FlagFalse;
    r.Percent = 100;
    r.Url = QStringLiteral("http://old.example:8080/old.bin");
    r.Protocol = Protocol::Ftp;
    r.DateAdded = OleDate(40000.75);
    return r;
}

ParsedUrl NewAddress() {
    return ParseUrl(QStringLiteral("ftp://ann:pw@new.example:2121/pub/new.iso"));
}

}  // namespace

TEST(DuplicateEntries, SameAddressInAnyCaseAmongListedEntriesOnly) {
    const DownloadListState list =
        ListOf({Entry("http://h/a.zip", FlagFalse),  // removed: never a duplicate
                Entry("http://h/b.zip"), Entry("HTTP://H/A.ZIP"), Entry("http://h/a.zip")});
    EXPECT_EQ(FindActiveDuplicate(list, QStringLiteral("http://H/a.Zip")), 3);
    EXPECT_EQ(FindActiveDuplicate(list, QStringLiteral("http://h/b.zip")), 2);
    EXPECT_EQ(FindActiveDuplicate(list, QStringLiteral("http://h/c.zip")), 0);
    EXPECT_EQ(FindActiveDuplicate(list, QStringLiteral("http://h/a.zip ")), 0);
    EXPECT_EQ(FindActiveDuplicate(DownloadListState{}, QStringLiteral("http://h/a.zip")), 0);

    // Slot 0 is never used, and only Active -1 counts as listed.
    DownloadListState odd = ListOf({Entry("http://h/x", 1)});
    odd.DownloadList[0] = Entry("http://h/y");
    EXPECT_EQ(FindActiveDuplicate(odd, QStringLiteral("http://h/x")), 0);
    EXPECT_EQ(FindActiveDuplicate(odd, QStringLiteral("http://h/y")), 0);
}

TEST(SlotChoice, ReusesTheLowestRemovedSlotThenGrowsByOne) {
    DownloadListState list = ListOf({Entry("http://h/1"), Entry("http://h/2", FlagFalse),
                                     Entry("http://h/3"), Entry("http://h/4", FlagFalse)});
    EXPECT_EQ(ChooseFreeSlot(list), 2);
    EXPECT_EQ(list.DownloadCount, 4);  // reuse never grows
    EXPECT_EQ(list.DownloadList.size(), 5);

    list.DownloadList[2].Active = FlagTrue;
    list.DownloadList[4].Active = FlagTrue;
    list.DownloadList[4].Completed = FlagTrue;  // finished entries stay in the list
    EXPECT_EQ(ChooseFreeSlot(list), 5);
    EXPECT_EQ(list.DownloadCount, 5);
    ASSERT_EQ(list.DownloadList.size(), 6);
    EXPECT_EQ(list.DownloadList[5], DownloadRecord{});

    // The new slot is free until it is filled, so asking again gives it again.
    EXPECT_EQ(ChooseFreeSlot(list), 5);
    EXPECT_EQ(list.DownloadCount, 5);

    DownloadListState empty;
    EXPECT_EQ(ChooseFreeSlot(empty), 1);
    EXPECT_EQ(empty.DownloadCount, 1);
    EXPECT_EQ(empty.DownloadList.size(), 2);
}

TEST(SlotChoice, FullListReusesOrRefuses) {
    DownloadListState list;
    list.DownloadList.resize(MaxDownloadSlots + 1);
    for (int slot = 1; slot <= MaxDownloadSlots; ++slot) {
        list.DownloadList[slot].Active = FlagTrue;
    }
    list.DownloadCount = MaxDownloadSlots;
    EXPECT_EQ(ChooseFreeSlot(list), 0);
    EXPECT_EQ(list.DownloadCount, MaxDownloadSlots);
    EXPECT_EQ(list.DownloadList.size(), MaxDownloadSlots + 1);

    list.DownloadList[MaxDownloadSlots].Active = FlagFalse;
    EXPECT_EQ(ChooseFreeSlot(list), MaxDownloadSlots);

    // One below the limit still grows, to exactly the limit.
    list.DownloadList.resize(MaxDownloadSlots);
    list.DownloadCount = MaxDownloadSlots - 1;
    EXPECT_EQ(ChooseFreeSlot(list), MaxDownloadSlots);
    EXPECT_EQ(list.DownloadCount, MaxDownloadSlots);
}

TEST(NewRecord, ReusedSlotStartsOverButKeepsWhatNoOneResets) {
    DownloadRecord r = Worn();
    const DownloadRecord before = r;
    const QString url = QStringLiteral("ftp://ann:pw@new.example:2121/pub/new.iso");
    const OleDate dayBefore = OleDate::today();
    FillNewRecord(r, NewAddress(), url, -1, QString());
    const OleDate dayAfter = OleDate::today();

    EXPECT_EQ(r.IsUpdate, 1);
    EXPECT_TRUE(r.Segments.dimensioned);
    EXPECT_EQ(r.Segments.lowerBound, 0);
    ASSERT_EQ(r.Segments.items.size(), 1);
    EXPECT_EQ(r.Segments.items[0], SegmentRecord{});
    EXPECT_EQ(r.SegmentCount, 0);
    EXPECT_EQ(r.FileName, QStringLiteral("new.iso"));
    EXPECT_EQ(r.UrlPath, QStringLiteral("/pub/new.iso"));
    EXPECT_EQ(r.HostName, QStringLiteral("new.example"));
    EXPECT_EQ(r.Port, 2121);
    EXPECT_EQ(r.UserName, QStringLiteral("ann"));
    EXPECT_EQ(r.Password, QStringLiteral("pw"));
    EXPECT_EQ(r.Url, url);
    EXPECT_EQ(r.Protocol, Protocol::Ftp);

    // A removed slot's earlier mark and target belong to the download that left it.
    EXPECT_EQ(r.Reserved3, 0);
    EXPECT_TRUE(r.SavePath.isEmpty());
    EXPECT_EQ(r.HasSavePath, FlagFalse);

    EXPECT_EQ(r.Priority, 1);
    EXPECT_EQ(StateOf(r), ListEntryState::Waiting);
    EXPECT_EQ(r.Transferring, FlagTrue);
    EXPECT_EQ(r.RangesSupported, FlagTrue);
    for (const std::int16_t flag : {r.Reserved4, r.RetryCount, r.Failed, r.Queued, r.Scheduled,
                                    r.Paused, r.Resuming, r.Completed, r.Removed}) {
        EXPECT_EQ(flag, 0);
    }
    EXPECT_EQ(r.LastTick, 0);
    EXPECT_EQ(r.FileSize, Currency{});
    EXPECT_EQ(r.BytesDone, Currency{});
    EXPECT_EQ(r.ElapsedSeconds, 0);
    EXPECT_EQ(r.RemainingSeconds, 0);
    EXPECT_EQ(r.Percent, 0);
    EXPECT_TRUE(r.Referer.isEmpty());
    EXPECT_TRUE(r.DateAdded == dayBefore || r.DateAdded == dayAfter);
    EXPECT_FALSE(r.DateAdded.hasTime());

    EXPECT_TRUE(r.SiteLogins.items.isEmpty()) << "the earlier addresses of what the slot held";
    EXPECT_EQ(r.Reserved1, before.Reserved1);
    EXPECT_EQ(r.Reserved2, before.Reserved2);
    EXPECT_TRUE(r.Reserved5.isEmpty())
        << "a browser's cookies belong to the address they came with";
    EXPECT_EQ(r.Running, before.Running);
}

TEST(NewRecord, ChosenPathUpdateFlagAndHttpDefaults) {
    DownloadRecord r;
    const ParsedUrl http = ParseUrl(QStringLiteral("http://h/f.bin"));
    FillNewRecord(r, http, QStringLiteral("http://h/f.bin"), 0, QStringLiteral("/tmp/x/f.bin"));
    EXPECT_EQ(r.SavePath, QStringLiteral("/tmp/x/f.bin"));
    EXPECT_EQ(r.HasSavePath, FlagTrue);
    EXPECT_EQ(r.IsUpdate, 0);
    EXPECT_EQ(r.Port, 80);
    EXPECT_EQ(r.Protocol, Protocol::Http);
    EXPECT_TRUE(r.UserName.isEmpty());

    // Any sign of the caller's flag marks an update; no value overflows the field.
    FillNewRecord(r, http, QStringLiteral("http://h/f.bin"), 1, QString());
    EXPECT_EQ(r.IsUpdate, 1);
    FillNewRecord(r, http, QStringLiteral("http://h/f.bin"), INT32_MIN, QString());
    EXPECT_EQ(r.IsUpdate, INT16_MAX);
    EXPECT_TRUE(r.SavePath.isEmpty());
    EXPECT_EQ(r.HasSavePath, FlagFalse);
}

TEST(NewRecord, HttpsAddressKeepsItsProtocolAndPort) {
    DownloadRecord r;
    const QString url = QStringLiteral("https://h:8443/f.bin");
    FillNewRecord(r, ParseUrl(url), url, 0, QString());
    EXPECT_EQ(r.Protocol, Protocol::Https);
    EXPECT_EQ(r.Port, 8443);
    EXPECT_EQ(r.HostName, QStringLiteral("h"));
    EXPECT_TRUE(r.UserName.isEmpty());
    const QString plain = QStringLiteral("https://h/f.bin");
    FillNewRecord(r, ParseUrl(plain), plain, 0, QString());
    EXPECT_EQ(r.Port, 443);
}

TEST(NewRecord, FetchingAgainReplacesItsOwnEarlierFile) {
    DownloadRecord finished = Worn();
    finished.Active = FlagTrue;
    finished.Removed = FlagFalse;
    finished.Reserved3 = 0;
    finished.HasSavePath = FlagFalse;  // the target came from the default folder
    const ParsedUrl again = ParseUrl(finished.Url);

    DownloadRecord r = finished;
    MarkFetchAgain(r);
    EXPECT_EQ(r.Reserved3, ReplacesEarlierFile);
    EXPECT_EQ(r.HasSavePath, FlagTrue);
    FillNewRecord(r, again, finished.Url, 0, QString());
    EXPECT_EQ(r.Reserved3, ReplacesEarlierFile);
    EXPECT_EQ(r.SavePath, finished.SavePath);
    EXPECT_EQ(r.HasSavePath, FlagTrue);
    EXPECT_EQ(StateOf(r), ListEntryState::Waiting);
    EXPECT_EQ(r.Percent, 0);

    // A path chosen in the dialog wins over the earlier one.
    r = finished;
    MarkFetchAgain(r);
    FillNewRecord(r, again, finished.Url, 0, QStringLiteral("/tmp/elsewhere.bin"));
    EXPECT_EQ(r.SavePath, QStringLiteral("/tmp/elsewhere.bin"));
    EXPECT_EQ(r.Reserved3, ReplacesEarlierFile);

    // An entry that never got a target keeps none.
    r = finished;
    r.SavePath.clear();
    MarkFetchAgain(r);
    EXPECT_EQ(r.HasSavePath, FlagFalse);
    FillNewRecord(r, again, finished.Url, 0, QString());
    EXPECT_TRUE(r.SavePath.isEmpty());
    EXPECT_EQ(r.HasSavePath, FlagFalse);
    EXPECT_EQ(r.Reserved3, ReplacesEarlierFile);

    // Without the mark, a filled slot is an ordinary new download.
    r = finished;
    FillNewRecord(r, again, finished.Url, 0, QString());
    EXPECT_EQ(r.Reserved3, 0);
    EXPECT_TRUE(r.SavePath.isEmpty());
}

TEST(RunningCount, OnlyListedEntriesWithAWindowTransferring) {
    DownloadRecord running = Entry("http://h/1");
    running.Running = FlagTrue;
    DownloadRecord removedButRunning = Entry("http://h/2", FlagFalse);
    removedButRunning.Running = FlagTrue;
    DownloadRecord oddFlag = Entry("http://h/3");
    oddFlag.Running = 1;
    DownloadRecord queued = Entry("http://h/4");
    queued.Queued = 1;
    DownloadListState list = ListOf({running, removedButRunning, oddFlag, queued, running});
    EXPECT_EQ(CountRunning(list), 2);
    list.DownloadCount = 3;  // slots past the count are not in the list
    EXPECT_EQ(CountRunning(list), 1);
    EXPECT_EQ(CountRunning(DownloadListState{}), 0);
}
