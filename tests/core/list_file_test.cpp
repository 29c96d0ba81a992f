#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTimeZone>

#include "core/download_list/download_list.h"
#include "core/download_list/file_identity.h"
#include "core/download_list/list_file_format.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"

namespace {

DownloadRecord SampleRecord() {
    DownloadRecord r;
    r.IsUpdate = 0;
    r.Segments.redim(2);
    for (int k = 1; k <= 2; ++k) {
        SegmentRecord& s = *r.Segments.at(k);
        s.StartPos = Currency::fromBytes((k - 1) * 5000);
        s.EndPos = Currency::fromBytes(k * 5000 - 1);
        s.Length = Currency::fromBytes(5000);
        s.InPlan = FlagTrue;
        s.Watched = FlagTrue;
        s.PartFile = QStringLiteral("/tmp/a.zip00%1.tmp").arg(k);
        s.State = SegmentState::Receiving;
        s.SegTick = 123456;
    }
    r.SegmentCount = 2;
    r.FileName = QStringLiteral("a.zip");
    r.UrlPath = QStringLiteral("/files/a.zip");
    r.HostName = QStringLiteral("example.org");
    r.Port = 80;
    r.UserName = QStringLiteral("anonymous");
    r.Reserved2 = QStringLiteral("0");
    r.RangesSupported = FlagTrue;
    r.Priority = 2;
    r.FileSize = Currency::fromBytes(10000);
    r.BytesDone = Currency::fromBytes(4321);
    r.ElapsedSeconds = 1.5f;
    r.Active = FlagTrue;
    r.Transferring = FlagTrue;
    r.Percent = 43.21f;
    r.Url = QStringLiteral("http://example.org/files/a.zip");
    r.DateAdded = OleDate(46364.0);
    return r;
}

DownloadListState SampleList() {
    DownloadListState list;
    list.DownloadList.append(SampleRecord());
    list.DownloadCount = 1;
    SiteLogin login;
    login.Site = QStringLiteral("example.org");
    login.LoginUser = QStringLiteral("ann");
    login.LoginPassword = QStringLiteral("4243");
    login.LoginFlag = 1;
    list.SiteLoginList.append(login);
    list.SiteLoginCount = 1;
    return list;
}

}  // namespace

TEST(ListFile, EmptyListIsTheMagicTheCountsAndTwoEmptySlots) {
    const QByteArray bytes = EncodeListFile(DownloadListState{});
    ASSERT_EQ(bytes.size(), 136);
    // Magic 99970, count 0, then slot 0: 112 bytes of zeros (fixed fields, empty strings,
    // undimensioned arrays), login count 0, login slot 0: 14 zero bytes.
    QByteArray expected = QByteArray::fromHex(
        "82860100"
        "0000");
    expected += QByteArray(112, '\0');
    expected += QByteArray(4, '\0');
    expected += QByteArray(14, '\0');
    EXPECT_EQ(bytes.toHex(), expected.toHex());
}

TEST(ListFile, RecordWithSegmentsAndLoginHasItsDocumentedLayout) {
    const DownloadListState list = SampleList();
    const QByteArray bytes = EncodeListFile(list);
    const DownloadRecord& r = list.DownloadList[1];
    // Slot 1: 88 fixed bytes, ten length-prefixed strings, the segment array (dimension
    // header plus three 58-byte-and-path elements) and an empty login array.
    qsizetype strings = 0;
    for (const QString* s : {&r.FileName, &r.UrlPath, &r.HostName, &r.UserName, &r.Password,
                             &r.Reserved2, &r.SavePath, &r.Reserved5, &r.Referer, &r.Url}) {
        strings += 2 + s->toUtf8().size();
    }
    qsizetype segments = 2 + 8;
    for (const SegmentRecord& s : r.Segments.items) {
        segments += 58 + s.PartFile.toUtf8().size();
    }
    const qsizetype record1 = 88 + strings + segments + 2;
    const qsizetype login1 = 14 + 11 + 3 + 4;
    EXPECT_EQ(bytes.size(), 6 + 112 + record1 + 4 + 14 + login1);

    // The segment array follows IsUpdate: one dimension of three elements from 0.
    const qsizetype slot1 = 6 + 112;
    EXPECT_EQ(bytes.mid(slot1, 2).toHex(), "0000");                       // IsUpdate
    EXPECT_EQ(bytes.mid(slot1 + 2, 10).toHex(), "01000300000000000000");  // D, count, lbound
    // First field of element 0 is StartPos; element 1 starts 58 bytes later (empty path).
    const qsizetype element1 = slot1 + 12 + 58;
    EXPECT_EQ(bytes.mid(element1, 8).toHex(), "0000000000000000");      // StartPos 0
    EXPECT_EQ(bytes.mid(element1 + 8, 8).toHex(), "70c9fa0200000000");  // EndPos 4999e4
}

TEST(ListFile, SavedListLoadsBackEqualAndResavesByteForByte) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    DownloadListState list = SampleList();
    // A second, finished entry with texts outside ASCII.
    DownloadRecord done = SampleRecord();
    done.Segments.erase();
    done.SegmentCount = 0;
    done.FileName = QStringLiteral("Größe – 報告.pdf");
    done.Completed = FlagTrue;
    done.Percent = 100;
    list.DownloadList.append(done);
    // An https entry keeps its protocol number through a save and a load.
    DownloadRecord secure = SampleRecord();
    secure.Url = QStringLiteral("https://example.org:8443/files/a.zip");
    secure.Port = 8443;
    secure.Protocol = Protocol::Https;
    const FileIdentity version{QStringLiteral("\"v1;a%b\""),
                               QDateTime::fromSecsSinceEpoch(1774751407, QTimeZone::utc()), 10000,
                               true};
    KeepIdentity(secure, version);
    list.DownloadList.append(secure);
    // A download split into more than eight segments keeps them all, in order.
    DownloadRecord split = SampleRecord();
    split.Segments.redim(12, true);
    for (int k = 3; k <= 12; ++k) {
        *split.Segments.at(k) = *split.Segments.at(2);
        split.Segments.at(k)->StartPos += Currency::fromBytes((k - 2) * 5000);
        split.Segments.at(k)->EndPos += Currency::fromBytes((k - 2) * 5000);
        split.Segments.at(k)->PartFile =
            QStringLiteral("/tmp/a.zip%1.tmp").arg(k, 3, 10, QChar(u'0'));
        split.Segments.at(k)->Received = Currency::fromBytes(k);
    }
    split.SegmentCount = 12;
    list.DownloadList.append(split);
    list.DownloadCount = 4;

    ASSERT_EQ(SaveList(list, path), QString());
    const QByteArray first = ReadFile(path);
    DownloadListState loaded;
    const ListLoadResult result = LoadList(loaded, path);
    EXPECT_TRUE(result.recognised);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(loaded.DownloadList, list.DownloadList);
    EXPECT_EQ(loaded.DownloadList.at(3).Protocol, Protocol::Https);
    EXPECT_EQ(ReadIdentity(loaded.DownloadList.at(3)), version);
    EXPECT_FALSE(ReadIdentity(loaded.DownloadList.at(1)).known()) << "an older list's \"0\"";
    EXPECT_EQ(loaded.DownloadList.at(4).Segments.at(12)->Received.bytes(), 12);
    EXPECT_EQ(loaded.SiteLoginList, list.SiteLoginList);
    ASSERT_EQ(SaveList(loaded, path), QString());
    EXPECT_EQ(ReadFile(path), first);
}

TEST(ListFile, MissingFileGivesAnEmptyListAndIsCreated) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    DownloadListState list = SampleList();
    const ListLoadResult result = LoadList(list, path);
    EXPECT_FALSE(result.recognised);
    EXPECT_TRUE(result.error.isEmpty());
    EXPECT_EQ(list.DownloadCount, 0);
    EXPECT_EQ(list.DownloadList.size(), 1);
    EXPECT_EQ(list.SiteLoginCount, 0);
    EXPECT_TRUE(QFile::exists(path));
    ASSERT_EQ(SaveList(list, path), QString());
    EXPECT_EQ(ReadFile(path).size(), 136);
}

TEST(ListFile, ForeignMagicIsAnEmptyList) {
    DownloadListState list = SampleList();
    QByteArray bytes = EncodeListFile(list);
    bytes[0] = 'X';
    const ListLoadResult result = DecodeListFile(bytes, list);
    EXPECT_FALSE(result.recognised);
    EXPECT_EQ(list.DownloadCount, 0);
}

TEST(ListFile, LoadFixesUpRemovedEntriesAndPausesRunningOnes) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    DownloadListState list = SampleList();
    DownloadRecord removed = SampleRecord();
    removed.Active = FlagFalse;
    removed.Removed = FlagTrue;
    removed.Paused = FlagTrue;
    removed.Referer = QStringLiteral("http://ref/");
    removed.Reserved5 = QStringLiteral("http://host\nsid=1");  // a browser's cookies
    removed.Completed = FlagTrue;
    list.DownloadList.append(removed);
    list.DownloadList[1].Running = FlagTrue;  // was running when the process was killed
    list.DownloadCount = 2;
    ASSERT_EQ(SaveList(list, path), QString());

    DownloadListState loaded;
    LoadList(loaded, path);
    const DownloadRecord& running = loaded.DownloadList[1];
    EXPECT_EQ(StateOf(running), ListEntryState::Paused);
    EXPECT_EQ(running.Segments, list.DownloadList[1].Segments);  // resumable as it was

    const DownloadRecord& r = loaded.DownloadList[2];
    // What the list views show of a removed entry stays...
    EXPECT_EQ(r.Url, removed.Url);
    EXPECT_EQ(r.FileSize, removed.FileSize);
    EXPECT_EQ(r.Percent, removed.Percent);
    EXPECT_EQ(r.Priority, removed.Priority);
    EXPECT_EQ(r.Referer, removed.Referer);
    EXPECT_EQ(r.Completed, FlagTrue);
    // ...its transfer state does not.
    EXPECT_TRUE(r.FileName.isEmpty());
    EXPECT_TRUE(r.HostName.isEmpty());
    EXPECT_TRUE(r.UrlPath.isEmpty());
    EXPECT_FALSE(r.Segments.dimensioned);
    EXPECT_EQ(r.SegmentCount, 0);
    EXPECT_EQ(r.BytesDone, Currency{});
    EXPECT_EQ(r.Reserved2, QStringLiteral("0"));
    EXPECT_TRUE(r.Reserved5.isEmpty());
    EXPECT_EQ(StateOf(r), ListEntryState::Free);
    EXPECT_FALSE(HeldByPause(r));
    EXPECT_GT(r.DateAdded.days(), removed.DateAdded.days());
}

TEST(ListFile, SaveReplacesTheFileWholeAndKeepsItPrivate) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    const mode_t old = ::umask(0);
    ASSERT_EQ(SaveList(SampleList(), path), QString());
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".new")));

    // A shorter list leaves nothing of the longer one behind.
    ASSERT_EQ(SaveList(DownloadListState{}, path), QString());
    EXPECT_EQ(ReadFile(path).size(), 136);
}

TEST(ListFile, FailedSaveKeepsThePreviousList) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    ASSERT_EQ(SaveList(SampleList(), path), QString());
    const QByteArray before = ReadFile(path);
    // The temporary file cannot be created where a folder of that name stands.
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral(".new")));
    EXPECT_FALSE(SaveList(DownloadListState{}, path).isEmpty());
    EXPECT_EQ(ReadFile(path), before);
}
