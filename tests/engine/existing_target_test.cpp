// brenloft-get's "already fetched" check: only a file of exactly the server's size at the
// download's own target that an earlier run finished, or that has the server's time, counts,
// and then the record becomes that finished download.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <functional>
#include <vector>

#include "core/download_list/records.h"
#include "engine/assembly/existing_target.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"

TEST(ExistingTarget, OnlyAWholeFileAtTheTargetCounts) {
    enum Known { Unknown, OursForThisAddress, OursForAnother, ServersTime, AnotherTime };
    struct Case {
        const char* name;
        std::function<void(const QString& target)> disk;
        bool chosenPath;
        bool adopted;
        Known known = OursForThisAddress;  // what says the file is this download's
    };
    const auto whole = [](const QString& t) { WriteFile(t, QByteArray(300, 'x')); };
    const std::vector<Case> cases = {
        {"nothing there", [](const QString&) {}, false, false},
        {"finished here", whole, false, true},
        {"one byte short", [](const QString& t) { WriteFile(t, QByteArray(299, 'x')); }, false,
         false},
        {"one byte more", [](const QString& t) { WriteFile(t, QByteArray(301, 'x')); }, false,
         false, ServersTime},
        {"a folder", [](const QString& t) { QDir().mkpath(t); }, false, false},
        {"a chosen path", whole, true, true},
        // Someone else's file of the same name and size: fetched again beside it.
        {"the same size only", whole, false, false, Unknown},
        {"finished here for another address", whole, false, false, OursForAnother},
        {"the server's time", whole, false, true, ServersTime},
        {"another time", whole, false, false, AnotherTime},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        const QString folder = box.path() + u'/';
        DownloadRecord r;
        r.Url = QStringLiteral("http://h/a%20b.bin");
        r.FileName = QStringLiteral("a%20b.bin");
        r.FileSize = Currency::fromBytes(300);
        r.Active = FlagTrue;
        r.Running = FlagTrue;
        r.Transferring = FlagTrue;
        QString target = folder + QStringLiteral("a b.bin");
        if (c.chosenPath) {
            target = folder + QStringLiteral("chosen.bin");
            r.SavePath = target;
            r.HasSavePath = FlagTrue;
        }
        c.disk(target);
        std::vector<FinishedFile> finished;
        if (c.known == OursForThisAddress || c.known == OursForAnother) {
            finished.push_back(
                {c.known == OursForThisAddress ? r.Url : QStringLiteral("http://o/"), target, 300});
        }
        const QDateTime fileTime = QFileInfo(target).lastModified();
        const QDateTime server = c.known == ServersTime   ? fileTime
                                 : c.known == AnotherTime ? fileTime.addSecs(-1)
                                                          : QDateTime();
        const DownloadRecord before = r;
        EXPECT_EQ(AdoptExistingTarget(r, folder, finished, server), c.adopted);
        if (!c.adopted) {
            EXPECT_TRUE(r == before) << "nothing changes";
            continue;
        }
        EXPECT_EQ(r.SavePath, target);
        EXPECT_EQ(StateOf(r), ListEntryState::Finished);
        EXPECT_EQ(r.Running, FlagFalse);
        EXPECT_EQ(r.Transferring, FlagFalse);
        EXPECT_EQ(r.Percent, 100);
        EXPECT_EQ(r.BytesDone.bytes(), 300);
        EXPECT_EQ(ReadFile(target), QByteArray(300, 'x')) << "the file is left as it is";
    }

    // Without a download folder there is no target to look at.
    DownloadRecord r;
    r.FileName = QStringLiteral("a.bin");
    EXPECT_FALSE(AdoptExistingTarget(r, QString(), {{r.Url, QStringLiteral("a.bin"), 0}},
                                     QDateTime::currentDateTimeUtc()));
}

// A plan whose file was built just before the program ended, before its list could say so.
TEST(ExistingTarget, AJoinTheListDidNotSeeIsAdoptedOnlyWhenNothingElseCanBeIt) {
    struct Case {
        const char* name;
        bool targetWhole;  // the target holds exactly the file's size
        int partLeft;      // a segment whose part file is still there (0: none)
        int unfinished;    // a segment not stored in full (0: none)
        bool adopted;
    };
    for (const Case& c : {
             Case{"built, parts gone", true, 0, 0, true},
             Case{"no target", false, 0, 0, false},
             Case{"a part still there: the join did not end", true, 1, 0, false},
             Case{"a segment not done", true, 0, 3, false},
         }) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        const QString folder = box.path() + u'/';
        DownloadRecord r;
        r.FileName = QStringLiteral("big.bin");
        r.FileSize = Currency::fromBytes(300);
        r.Active = FlagTrue;
        r.SegmentCount = 3;
        r.Segments.redim(3);
        for (int j = 1; j <= 3; ++j) {
            SegmentRecord& s = *r.Segments.at(j);
            s.Length = Currency::fromBytes(100);
            s.State = j == c.unfinished ? SegmentState::Receiving : SegmentState::Complete;
            s.PartFile = folder + QStringLiteral("big.bin%1.tmp").arg(j, 3, 10, QChar(u'0'));
            if (j == c.partLeft) {
                WriteFile(s.PartFile, QByteArray(100, 'p'));
            }
        }
        WriteFile(folder + QStringLiteral("big.bin"), QByteArray(c.targetWhole ? 300 : 0, 'x'));
        const DownloadRecord before = r;
        EXPECT_EQ(AdoptJoinedTarget(r, folder), c.adopted);
        EXPECT_EQ(StateOf(r), c.adopted ? ListEntryState::Finished : ListEntryState::Waiting);
        EXPECT_EQ(r == before, !c.adopted) << "nothing changes unless adopted";
    }
}
