// brenloft-get's "already fetched" check: only a file of exactly the server's size at the
// download's own target counts, and then the record becomes that finished download.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <functional>
#include <vector>

#include "core/download_list/records.h"
#include "engine/assembly/existing_target.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

TEST(ExistingTarget, OnlyAWholeFileAtTheTargetCounts) {
    struct Case {
        const char* name;
        std::function<void(const QString& target)> disk;
        bool chosenPath;
        bool adopted;
        int ageSeconds = 60;  // how long before the run the file was last changed
    };
    const std::vector<Case> cases = {
        {"nothing there", [](const QString&) {}, false, false},
        {"the same size", [](const QString& t) { WriteFile(t, QByteArray(300, 'x')); }, false,
         true},
        {"one byte short", [](const QString& t) { WriteFile(t, QByteArray(299, 'x')); }, false,
         false},
        {"one byte more", [](const QString& t) { WriteFile(t, QByteArray(301, 'x')); }, false,
         false},
        {"a folder", [](const QString& t) { QDir().mkpath(t); }, false, false},
        {"a chosen path", [](const QString& t) { WriteFile(t, QByteArray(300, 'x')); }, true, true},
        // Written during this run, for another address of the same name and size.
        {"written by this run", [](const QString& t) { WriteFile(t, QByteArray(300, 'x')); }, false,
         false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        const QString folder = box.path() + u'/';
        DownloadRecord r;
        r.FileName = QStringLiteral("a%20b.bin");
        r.FileSize = Currency::fromBytes(300);
        r.Running = FlagTrue;
        r.Transferring = FlagTrue;
        QString target = folder + QStringLiteral("a b.bin");
        if (c.chosenPath) {
            target = folder + QStringLiteral("chosen.bin");
            r.SavePath = target;
            r.HasSavePath = FlagTrue;
        }
        c.disk(target);
        const QDateTime runStarted = QDateTime::currentDateTimeUtc().addSecs(c.ageSeconds);
        const DownloadRecord before = r;
        EXPECT_EQ(AdoptExistingTarget(r, folder, runStarted), c.adopted);
        if (!c.adopted) {
            EXPECT_TRUE(r == before) << "nothing changes";
            continue;
        }
        EXPECT_EQ(r.SavePath, target);
        EXPECT_EQ(r.Completed, FlagTrue);
        EXPECT_EQ(r.Running, FlagFalse);
        EXPECT_EQ(r.Transferring, FlagFalse);
        EXPECT_EQ(r.Percent, 100);
        EXPECT_EQ(r.BytesDone.bytes(), 300);
        EXPECT_EQ(ReadFile(target), QByteArray(300, 'x')) << "the file is left as it is";
    }

    // Without a download folder there is no target to look at.
    DownloadRecord r;
    r.FileName = QStringLiteral("a.bin");
    EXPECT_FALSE(AdoptExistingTarget(r, QString(), QDateTime::currentDateTimeUtc()));
}
