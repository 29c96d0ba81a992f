// The list's commands of the queue, which every front end calls: deleting an entry with its
// part files, resetting the list, clearing finished entries, the priority, schedule and queue
// marks, and brenloft-get's add that continues an interrupted entry.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "tests/engine/queue_test_harness.h"

using namespace queue_test;

namespace {

bool AnyExists(const QStringList& paths) {
    return std::any_of(paths.begin(), paths.end(),
                       [](const QString& p) { return QFile::exists(p); });
}

class ListCommandsTest : public QueueTest {
protected:
    // Gives the entry `count` planned segments whose part files hold 100 bytes each.
    QStringList withParts(int slot, int count) {
        DownloadRecord& r = record(slot);
        r.SegmentCount = static_cast<std::int16_t>(count);
        r.Segments.redim(count);
        r.FileSize = Currency::fromBytes(100 * count);
        QStringList parts;
        for (int j = 1; j <= count; ++j) {
            SegmentRecord& s = *r.Segments.at(j);
            s.PartFile = engine->temp() + QStringLiteral("e%1-%2.tmp").arg(slot).arg(j);
            s.Length = Currency::fromBytes(100);
            s.StartPos = Currency::fromBytes(100 * (j - 1));
            s.EndPos = Currency::fromBytes(100 * j - 1);
            s.InPlan = FlagTrue;
            EXPECT_TRUE(WriteFile(s.PartFile, QByteArray(100, 'p')));
            parts << s.PartFile;
        }
        return parts;
    }
    // A finished entry whose file is in the download folder.
    int finished(const QString& address, const QString& name) {
        const int slot = idle(address);
        record(slot).Completed = FlagTrue;
        record(slot).Percent = 100;
        record(slot).SavePath = engine->downloads() + name;
        EXPECT_TRUE(WriteFile(record(slot).SavePath, "whole"));
        return slot;
    }
    void expectRemoved(int slot) {
        SCOPED_TRACE(QStringLiteral("slot %1").arg(slot).toStdString());
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Removed);
        EXPECT_EQ(record(slot).Running, FlagFalse);
        EXPECT_TRUE(record(slot).Reserved5.isEmpty()) << "a browser's cookies leave with it";
        EXPECT_FALSE(queue->hasSession(slot));
        EXPECT_EQ(windows.view(slot), nullptr);
    }
};

}  // namespace

// Deleting takes the entry, its session and window and its part files, whether it waits or
// runs; a file a damaged list names as a part is never deleted, nor another entry's parts.
TEST_F(ListCommandsTest, DeleteTakesTheEntryItsSessionAndItsPartFilesOnly) {
    serve(QStringLiteral("s1.bin"), SlowFileSize);
    startNginx();
    const int waiting = idle(url(QStringLiteral("/slow/none.bin")));
    const QStringList waitingParts = withParts(waiting, 3);
    const QString precious = engine->downloads() + QStringLiteral("precious.txt");
    ASSERT_TRUE(WriteFile(precious, "keep"));
    record(waiting).Segments.at(2)->PartFile = precious;
    ASSERT_TRUE(QFile::remove(waitingParts[1]));
    const int other = idle(url(QStringLiteral("/slow/other.bin")));
    const QStringList otherParts = withParts(other, 2);
    const int running = idle(url(QStringLiteral("/slow/s1.bin")));
    queue->StartSession(running);
    ASSERT_TRUE(WaitFor([&] { return transferring(running); }));
    QStringList runningParts;
    for (int j = 1; j <= record(running).SegmentCount; ++j) {
        runningParts << record(running).Segments.at(j)->PartFile;
    }
    ASSERT_TRUE(AnyExists(runningParts));

    for (const int slot : {waiting, running}) {
        record(slot).Reserved5 = QStringLiteral("http://127.0.0.1\nsid=1");
        const int changesBefore = listChanges;
        EXPECT_TRUE(queue->DeleteEntry(slot));
        expectRemoved(slot);
        EXPECT_EQ(record(slot).Transferring, FlagFalse);
        EXPECT_GT(listChanges, changesBefore);
    }
    EXPECT_FALSE(AnyExists(waitingParts));
    EXPECT_FALSE(AnyExists(runningParts));
    EXPECT_TRUE(QFile::exists(precious));
    EXPECT_TRUE(QFile::exists(otherParts[0]) && QFile::exists(otherParts[1]));
    EXPECT_TRUE(Listed(record(other)));
    EXPECT_FALSE(queue->DeleteEntry(99)) << "no such slot";
}

// Resetting closes every session, the running one and one still probing, deletes the parts of
// unfinished entries and empties the list; finished files and remembered logins stay.
TEST_F(ListCommandsTest, ResetEmptiesTheListAndClosesEverySession) {
    serve(QStringLiteral("s1.bin"), SlowFileSize);
    serve(QStringLiteral("s2.bin"), SlowFileSize);
    startNginx();
    const int running = idle(url(QStringLiteral("/slow/s1.bin")));
    queue->StartSession(running);
    ASSERT_TRUE(WaitFor([&] { return transferring(running); }));
    const int paused = idle(url(QStringLiteral("/slow/none.bin")));
    const QStringList parts = withParts(paused, 2);
    const int done = finished(url(QStringLiteral("/done.bin")), QStringLiteral("done.bin"));
    const QString doneFile = record(done).SavePath;
    QStringList runningParts;
    for (int j = 1; j <= record(running).SegmentCount; ++j) {
        runningParts << record(running).Segments.at(j)->PartFile;
    }
    engine->list.SiteLoginList.append(
        SiteLogin{QStringLiteral("127.0.0.1"), 0, QStringLiteral("me"), QStringLiteral("4142"), 0});
    engine->list.SiteLoginCount = 1;
    const int probing = idle(url(QStringLiteral("/slow/s2.bin")));
    queue->StartSession(probing);

    queue->ResetList();
    EXPECT_EQ(engine->list.DownloadCount, 0);
    EXPECT_EQ(engine->list.DownloadList.size(), 1);
    EXPECT_FALSE(queue->hasSession(running));
    EXPECT_FALSE(queue->hasSession(probing));
    EXPECT_EQ(windows.open.size(), 0u);
    EXPECT_FALSE(AnyExists(parts + runningParts));
    EXPECT_EQ(ReadFile(doneFile), QByteArray("whole"));
    EXPECT_EQ(engine->list.SiteLoginCount, 1);
    EXPECT_EQ(queue->runningCount(), 0);
    // What the closed sessions still report on their way out finds no entry to touch.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(engine->list.DownloadCount, 0);
}

// Clearing finished entries takes, for each address asked, the first entry that has it, and
// leaves the files; one refresh for the whole command, none for an empty one.
TEST_F(ListCommandsTest, RemoveFinishedTakesTheFirstEntryOfEachAddress) {
    const QString a = QStringLiteral("http://127.0.0.1/a.bin");
    const QString b = QStringLiteral("http://127.0.0.1/b.bin");
    const int firstA = finished(a, QStringLiteral("a.bin"));
    const int secondA = finished(a, QStringLiteral("a[1].bin"));
    const int onlyB = finished(b, QStringLiteral("b.bin"));
    const int c = finished(QStringLiteral("http://127.0.0.1/c.bin"), QStringLiteral("c.bin"));

    for (const int slot : {firstA, onlyB}) {
        record(slot).Reserved5 = QStringLiteral("http://127.0.0.1\nsid=1");
    }
    int changesBefore = listChanges;
    queue->RemoveFinished({});
    EXPECT_EQ(listChanges, changesBefore);

    queue->RemoveFinished({record(firstA).Url, record(onlyB).Url, QStringLiteral("http://x/")});
    EXPECT_EQ(listChanges, changesBefore + 1);
    for (const int slot : {firstA, onlyB}) {
        expectRemoved(slot);
        EXPECT_EQ(ReadFile(record(slot).SavePath), QByteArray("whole"));
    }
    EXPECT_TRUE(Listed(record(secondA)));
    EXPECT_TRUE(Listed(record(c)));

    // Asked again, the address's next entry goes.
    changesBefore = listChanges;
    queue->RemoveFinished({record(secondA).Url});
    expectRemoved(secondA);
    queue->RemoveEntry(secondA);
    EXPECT_EQ(listChanges, changesBefore + 1) << "an entry already gone changes nothing";
}

// The schedule mark toggles on entries that wait; running or finished ones keep theirs.
TEST_F(ListCommandsTest, ScheduleMarkTogglesOnlyOnWaitingEntries) {
    struct Case {
        const char* name;
        std::function<void(DownloadRecord&)> state;
        bool afterOne;
    };
    const std::vector<Case> cases = {
        {"idle", [](DownloadRecord&) {}, true},
        {"paused", [](DownloadRecord& r) { r.Paused = FlagTrue; }, true},
        {"queued", [](DownloadRecord& r) { r.Queued = 1; }, true},
        {"running", [](DownloadRecord& r) { r.Running = FlagTrue; }, false},
        {"finished", [](DownloadRecord& r) { r.Completed = FlagTrue; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int slot = idle(QStringLiteral("http://127.0.0.1/%1.bin").arg(c.name));
        c.state(record(slot));
        queue->ToggleSchedule(slot);
        EXPECT_EQ(MarkedForSchedule(record(slot)), c.afterOne);
        queue->ToggleSchedule(slot);
        EXPECT_FALSE(MarkedForSchedule(record(slot)));
    }
    queue->ToggleSchedule(99);  // no such slot: nothing happens
}

// The priority goes to every entry of the address still in the list; a client's place in the
// queue keeps the order by priority; the queue mark comes off every entry at once.
TEST_F(ListCommandsTest, PriorityPlaceInQueueAndClearingTheQueue) {
    const QString a = QStringLiteral("http://127.0.0.1/a.bin");
    const int first = queued(a);
    const int second = queued(a);
    const int removed = queued(a);
    record(removed).Active = FlagFalse;
    const int other = queued(QStringLiteral("http://127.0.0.1/b.bin"));

    queue->SetPriority(record(first).Url, 2);
    EXPECT_EQ(record(first).Priority, 2);
    EXPECT_EQ(record(second).Priority, 2);
    EXPECT_EQ(record(removed).Priority, 1);
    EXPECT_EQ(record(other).Priority, 1);
    queue->SetPriority(record(first).Url, 0);
    EXPECT_EQ(record(second).Priority, 0);

    using Order = std::vector<int>;
    EXPECT_EQ(queue->WaitingOrder(), (Order{other, first, second}));
    EXPECT_EQ(queue->PlaceInQueue(second, 0), 0);
    EXPECT_EQ(queue->WaitingOrder(), (Order{second, other, first}));
    EXPECT_EQ(record(second).Priority, 1) << "its new neighbour's";
    EXPECT_EQ(queue->PlaceInQueue(second, 99), 2);
    EXPECT_EQ(queue->WaitingOrder(), (Order{other, first, second}));
    EXPECT_EQ(queue->PlaceInQueue(first, 2), 2);
    EXPECT_EQ(queue->WaitingOrder(), (Order{other, second, first}));
    EXPECT_EQ(queue->PlaceInQueue(99, 0), -1);

    queue->ClearQueue();
    for (const int slot : {first, second, removed, other}) {
        EXPECT_FALSE(InQueue(record(slot))) << slot;
    }
    queue->StartNextQueued();
    EXPECT_TRUE(windows.events.isEmpty()) << "nothing is left to start";
}

// brenloft-get's add: an address it cannot fetch says why; a new one starts under the limit and
// is queued over it; one that runs is the same download; an entry an interrupted run left goes
// on from its stored segments with the login given.
TEST_F(ListCommandsTest, AddOrContinueStartsQueuesOrContinues) {
    for (int i = 1; i <= 3; ++i) {
        serve(QStringLiteral("s%1.bin").arg(i), SlowFileSize);
    }
    startNginx();
    engine->settings.MaxSimulDownlads = 1;
    auto add = [&](const QString& address, QString& why) {
        AddRequest request = Request(address);
        request.user = QStringLiteral("ann");
        request.password = QStringLiteral("pw");
        const int slot = AddOrContinue(engine->ctx, *queue, request, why);
        return std::make_pair(slot, request.deferFlag);
    };
    QString why;
    EXPECT_EQ(add(QStringLiteral("gopher://127.0.0.1/x"), why).first, 0);
    EXPECT_EQ(why, QStringLiteral("not an http://, https:// or ftp:// address"));
    EXPECT_EQ(engine->list.DownloadCount, 0);

    const auto [first, firstDeferred] = add(url(QStringLiteral("/slow/s1.bin")), why);
    ASSERT_GT(first, 0);
    EXPECT_EQ(firstDeferred, 0);
    EXPECT_TRUE(queue->hasSession(first));
    EXPECT_EQ(StateOf(record(first)), ListEntryState::Running);
    EXPECT_EQ(record(first).UserName, QStringLiteral("ann"));

    const auto [second, secondDeferred] = add(url(QStringLiteral("/slow/s2.bin")), why);
    EXPECT_EQ(secondDeferred, -1);
    EXPECT_EQ(StateOf(record(second)), ListEntryState::Queued);
    EXPECT_FALSE(queue->hasSession(second));

    DownloadSession* session = queue->session(first);
    const QStringList eventsBefore = windows.events;
    EXPECT_EQ(add(url(QStringLiteral("/slow/s1.bin")), why).first, first);
    EXPECT_EQ(queue->session(first), session);
    EXPECT_EQ(windows.events, eventsBefore);

    // Left by an interrupted run: one segment complete, one that had received 30 bytes on its
    // last connection.
    const int left = idle(url(QStringLiteral("/slow/s3.bin")));
    withParts(left, 2);
    DownloadRecord& r = record(left);
    r.Paused = FlagTrue;
    r.Segments.at(1)->State = SegmentState::Complete;
    r.Segments.at(1)->Done = Currency::fromBytes(100);
    r.Segments.at(2)->Done = Currency::fromBytes(20);
    r.Segments.at(2)->Received = Currency::fromBytes(30);
    r.Segments.at(2)->StartPos = Currency::fromBytes(120);
    engine->settings.MaxSimulDownlads = 3;
    EXPECT_EQ(add(url(QStringLiteral("/slow/s3.bin")), why).first, left);
    EXPECT_TRUE(queue->hasSession(left));
    EXPECT_TRUE(ResumingFromPlan(record(left)));
    EXPECT_FALSE(HeldByPause(record(left)));
    EXPECT_EQ(record(left).UserName, QStringLiteral("ann"));
    EXPECT_EQ(record(left).Segments.at(1)->Done.bytes(), 100);
    EXPECT_EQ(record(left).Segments.at(2)->Done.bytes(), 50);
    EXPECT_EQ(record(left).Segments.at(2)->StartPos.bytes(), 150);
    EXPECT_EQ(record(left).Segments.at(2)->Received.bytes(), 0);
}
