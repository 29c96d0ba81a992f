// Which ends of real downloads the desktop hears of: a whole file, a failure with its reason, a
// checksum found wrong (once, though the file is hashed again for its SHA-256), never a pause.
#include "integration/desktop/download_end_notices.h"

#include "core/checksums/checksum.h"
#include "engine/checksum/checksum_checks.h"
#include "tests/engine/queue_test_harness.h"

using namespace queue_test;

TEST_F(QueueTest, EachEndIsToldOnceAndAPauseNotAtAll) {
    startNginx();
    serve(QStringLiteral("good.bin"), 1000);
    serve(QStringLiteral("paused.bin"), SlowFileSize);  // at /slow/, slowly
    ChecksumChecks checks(engine->ctx, *queue);
    QStringList told;
    DownloadEndNotices notices(engine->ctx, *queue, checks, [&](const DownloadEnd& end) {
        told << QStringLiteral("%1 %2 %3").arg(int(end.kind)).arg(end.name, end.reason);
    });
    ScriptedAddPrompts prompts;
    AddRequest good = Request(url(QStringLiteral("/good.bin")));
    good.checksum = Checksum{DigestKind::Sha256, QString(64, u'e')};
    AddRequest missing = Request(url(QStringLiteral("/missing.bin")));
    AddRequest paused = Request(url(QStringLiteral("/slow/paused.bin")));
    engine->settings.MaxSimulDownlads = 3;
    const int added[] = {AddDownload(engine->ctx, *queue, prompts, good),
                         AddDownload(engine->ctx, *queue, prompts, missing),
                         AddDownload(engine->ctx, *queue, prompts, paused)};
    ASSERT_TRUE(WaitFor([&] { return transferring(added[2]); }, std::chrono::seconds(30)));
    queue->PauseSlot(added[2]);
    ASSERT_TRUE(
        WaitFor([&] { return told.size() >= 3 && !checks.busy(); }, std::chrono::seconds(60)))
        << told.join(u'|').toStdString();
    // Past the last check: a second telling would come now.
    WaitFor([] { return false; }, std::chrono::milliseconds(500));
    told.sort();
    ASSERT_EQ(told.size(), 3) << told.join(u'|').toStdString();
    EXPECT_EQ(told[0], QStringLiteral("0 good.bin "));
    EXPECT_TRUE(told[1].startsWith(QStringLiteral("1 missing.bin ")) && told[1].contains(u"404"))
        << told[1].toStdString();
    EXPECT_EQ(told[2], QStringLiteral("2 good.bin "));
}
