// The download queue against a real nginx: the simultaneous-download limit, the queue by
// priority over successive ticks, the schedule, pause and resume of everything, restarting one
// entry, and what happens to sessions and their windows when they end or the program stops.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include "tests/engine/queue_test_harness.h"

using namespace queue_test;

namespace {

QString Slow(int i) {
    return QStringLiteral("/slow/s%1.bin").arg(i);
}
QString Fast(int i) {
    return QStringLiteral("/f%1.bin").arg(i);
}

}  // namespace

// Three run at the limit of three; a fourth added meanwhile waits in the queue without a
// session or a window, and starts once one of the three has finished. The three are held back
// by a limit of one byte a second (one segment each, so the limiter applies) until the fourth
// is queued: none of them can finish early and leave room for it.
TEST_F(QueueTest, AFourthDownloadWaitsForOneOfThreeToFinish) {
    std::map<int, QByteArray> files;
    for (int i = 1; i <= 4; ++i) {
        files[i] = serve(QStringLiteral("s%1.bin").arg(i), SlowFileSize);
    }
    startNginx();
    engine->settings.MaxSimulDownlads = 3;
    engine->settings.MaxSegments = 1;
    engine->sockets.setLimits({true, 1});
    ScriptedAddPrompts prompts;

    for (int i = 1; i <= 3; ++i) {
        AddRequest request = Request(url(Slow(i)));
        ASSERT_EQ(AddDownload(engine->ctx, *queue, prompts, request), i);
        EXPECT_EQ(request.deferFlag, 0);
    }
    ASSERT_TRUE(WaitFor([&] { return queue->runningCount() == 3; }));

    AddRequest fourth = Request(url(Slow(4)));
    ASSERT_EQ(AddDownload(engine->ctx, *queue, prompts, fourth), 4);
    EXPECT_EQ(fourth.deferFlag, -1) << "told that the limit made it wait";
    EXPECT_EQ(StateOf(record(4)), ListEntryState::Queued);
    EXPECT_FALSE(queue->hasSession(4));
    EXPECT_EQ(windows.view(4), nullptr);
    EXPECT_EQ(windows.events.indexOf(QRegularExpression(QStringLiteral("end ."))), -1);

    // The fourth may start as soon as one of the three stops transferring (its join need not
    // be over): how many of them still ran when it got its session.
    int othersRunningAtStart = -1;
    QObject::connect(queue.get(), &DownloadQueue::listChanged, [&] {
        if (othersRunningAtStart < 0 && queue->hasSession(4)) {
            othersRunningAtStart = 0;
            for (int slot = 1; slot <= 3; ++slot) {
                othersRunningAtStart += StateOf(record(slot)) == ListEntryState::Running ? 1 : 0;
            }
        }
    });
    engine->sockets.setLimits({false, 0});
    ASSERT_TRUE(
        tickUntil([&] { return completed(1) && completed(2) && completed(3) && completed(4); }));
    for (auto& [slot, bytes] : files) {
        expectFile(slot, bytes);
    }
    EXPECT_GE(othersRunningAtStart, 0) << windows.events.join(u',').toStdString();
    EXPECT_LT(othersRunningAtStart, 3) << windows.events.join(u',').toStdString();
    EXPECT_LE(maxRunning, 3);
    EXPECT_EQ(prompts.errors, QStringList{});
}

// One start per tick: the high-priority entry first although it was queued last, then the
// middle ones by slot, then the low one; a removed entry never starts.
TEST_F(QueueTest, QueuedEntriesStartByPriorityOnePerTick) {
    std::map<int, QByteArray> files;
    for (int i = 1; i <= 5; ++i) {
        files[i] = serve(QStringLiteral("f%1.bin").arg(i), 20000 + i);
    }
    startNginx();
    engine->settings.MaxSimulDownlads = 10;
    queued(url(Fast(1)));
    queued(url(Fast(2)));
    queued(url(Fast(3)));
    queued(url(Fast(4)), 2);
    queued(url(Fast(5)), 0);
    const int removed = queued(url(QStringLiteral("/gone.bin")), 2);
    record(removed).Active = FlagFalse;
    record(removed).Removed = FlagTrue;

    std::vector<std::vector<int>> afterEachTick;
    for (int tick = 0; tick < 6; ++tick) {
        queue->StartNextQueued();
        afterEachTick.push_back(windows.slotsOf(QStringLiteral("open")));
    }
    EXPECT_EQ(afterEachTick,
              (std::vector<std::vector<int>>{
                  {4}, {4, 1}, {4, 1, 2}, {4, 1, 2, 3}, {4, 1, 2, 3, 5}, {4, 1, 2, 3, 5}}));
    for (int slot = 1; slot <= 5; ++slot) {
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Running) << slot;
        EXPECT_FALSE(InQueue(record(slot))) << slot;
    }
    EXPECT_TRUE(InQueue(record(removed)));

    ASSERT_TRUE(WaitFor([&] {
        for (int slot = 1; slot <= 5; ++slot) {
            if (!completed(slot)) {
                return false;
            }
        }
        return true;
    }));
    for (auto& [slot, bytes] : files) {
        expectFile(slot, bytes);
    }
    // Each finished session closed its window and left the table.
    EXPECT_EQ(windows.open.size(), 0u);
    for (int slot = 1; slot <= 5; ++slot) {
        EXPECT_FALSE(queue->hasSession(slot));
        EXPECT_EQ(endings[slot], QStringList{QString()});
    }
    EXPECT_FALSE(queue->hasSession(removed));
}

// With a limit of two, five equal entries start two on two ticks; the rest wait, and each
// finished one lets the next lowest slot start.
TEST_F(QueueTest, TwoAtATimeOutOfFive) {
    std::map<int, QByteArray> files;
    for (int i = 1; i <= 5; ++i) {
        files[i] = serve(QStringLiteral("s%1.bin").arg(i), SlowFileSize);
    }
    startNginx();
    engine->settings.MaxSimulDownlads = 2;
    for (int i = 1; i <= 5; ++i) {
        queued(url(Slow(i)));
    }

    queue->StartNextQueued();
    EXPECT_EQ(windows.slotsOf(QStringLiteral("open")), std::vector<int>{1});
    queue->StartNextQueued();
    queue->StartNextQueued();
    EXPECT_EQ(windows.slotsOf(QStringLiteral("open")), (std::vector<int>{1, 2}));
    EXPECT_EQ(queue->runningCount(), 2);
    for (int slot = 3; slot <= 5; ++slot) {
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Queued);
        EXPECT_FALSE(queue->hasSession(slot));
    }

    ASSERT_TRUE(tickUntil([&] {
        for (int slot = 1; slot <= 5; ++slot) {
            if (!completed(slot)) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(windows.slotsOf(QStringLiteral("open")), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_LE(maxRunning, 2);
    for (auto& [slot, bytes] : files) {
        expectFile(slot, bytes);
    }
}

namespace {

QDateTime On(int addDays, int hour, int minute) {
    return QDateTime(QDate(2026, 12, 8).addDays(addDays), QTime(hour, minute));
}

OleDate At(int addDays, int hour, int minute) {
    return OleDate::fromDateTime(On(addDays, hour, minute));
}

}  // namespace

// The daily schedule queues what is marked once its time has passed, then waits for the same
// time on the next day; entries running, queued or removed are left alone.
TEST_F(QueueTest, DailyScheduleQueuesMarkedEntriesAndMovesToTheNextDay) {
    Settings& s = engine->settings;
    s.Schedule = FlagTrue;
    s.ScheduleOption = 1;
    s.ScheduleHour = At(-3, 23, 0);  // left from days ago
    const int marked = idle(QStringLiteral("http://127.0.0.1/a.bin"));
    const int queuedAlready = idle(QStringLiteral("http://127.0.0.1/b.bin"));
    const int running = idle(QStringLiteral("http://127.0.0.1/c.bin"));
    const int removed = idle(QStringLiteral("http://127.0.0.1/d.bin"));
    const int later = idle(QStringLiteral("http://127.0.0.1/e.bin"));
    for (const int slot : {marked, queuedAlready, running, removed}) {
        record(slot).Scheduled = 1;
    }
    record(queuedAlready).Queued = 1;
    record(running).Running = FlagTrue;
    record(removed).Active = FlagFalse;

    const OleDate now = At(0, 23, 30);
    queue->ApplySchedule(now);
    EXPECT_EQ(StateOf(record(marked)), ListEntryState::Queued);
    EXPECT_FALSE(MarkedForSchedule(record(marked)));
    EXPECT_TRUE(MarkedForSchedule(record(queuedAlready)));
    EXPECT_FALSE(InQueue(record(running)));
    EXPECT_TRUE(MarkedForSchedule(record(running)));
    EXPECT_FALSE(InQueue(record(removed)));
    EXPECT_EQ(s.ScheduleHour.toDateTime(), On(1, 23, 0));
    EXPECT_GE(listChanges, 1);

    // Marked after the start: it waits for tomorrow's.
    record(later).Scheduled = 1;
    queue->ApplySchedule(At(0, 23, 45));
    queue->ApplySchedule(At(1, 22, 59));
    EXPECT_EQ(StateOf(record(later)), ListEntryState::Scheduled);
    queue->ApplySchedule(At(1, 23, 1));
    EXPECT_EQ(StateOf(record(later)), ListEntryState::Queued);
    EXPECT_EQ(s.ScheduleHour.toDateTime(), On(2, 23, 0));

    // Nothing is queued while the schedule is off.
    record(later).Queued = 0;
    record(later).Scheduled = 1;
    s.Schedule = FlagFalse;
    queue->ApplySchedule(At(5, 0, 0));
    EXPECT_EQ(StateOf(record(later)), ListEntryState::Scheduled);
    EXPECT_EQ(s.ScheduleHour.toDateTime(), On(2, 23, 0));
}

// Once: every marked entry joins the queue after the moment, which stays where it is.
TEST_F(QueueTest, OnceScheduleQueuesWhateverIsMarkedAfterItsMoment) {
    Settings& s = engine->settings;
    s.Schedule = FlagTrue;
    s.ScheduleOption = 0;
    s.ScheduleDate = At(0, 12, 0);
    const int first = idle(QStringLiteral("http://127.0.0.1/a.bin"));
    record(first).Scheduled = 1;

    queue->ApplySchedule(At(0, 11, 59));
    EXPECT_EQ(StateOf(record(first)), ListEntryState::Scheduled);
    queue->ApplySchedule(At(0, 12, 1));
    EXPECT_EQ(StateOf(record(first)), ListEntryState::Queued);

    const int second = idle(QStringLiteral("http://127.0.0.1/b.bin"));
    record(second).Scheduled = 1;
    queue->ApplySchedule(At(3, 8, 0));
    EXPECT_EQ(StateOf(record(second)), ListEntryState::Queued);
    EXPECT_EQ(s.ScheduleDate.toDateTime(), On(0, 12, 0));
}

// Pause-all pauses what runs and keeps the sessions; resume-all continues them and starts
// what waits, and every file comes out whole.
TEST_F(QueueTest, PauseAllAndResumeAll) {
    std::map<int, QByteArray> files;
    for (int i = 1; i <= 3; ++i) {
        files[i] = serve(QStringLiteral("s%1.bin").arg(i), SlowFileSize);
    }
    startNginx();
    engine->settings.MaxSimulDownlads = 3;
    for (int i = 1; i <= 3; ++i) {
        idle(url(Slow(i)));
    }
    const int done = idle(url(QStringLiteral("/finished.bin")));
    record(done).Completed = FlagTrue;
    record(done).Percent = 100;

    queue->Restart(1);
    queue->Restart(2);
    ASSERT_TRUE(WaitFor([&] { return transferring(1) && transferring(2); }));
    DownloadSession* first = queue->session(1);
    DownloadSession* second = queue->session(2);

    const int changesBefore = listChanges;
    queue->pauseall();
    EXPECT_EQ(listChanges, changesBefore + 1) << "one refresh for the whole command";
    for (const int slot : {1, 2}) {
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Paused);
        EXPECT_NE(windows.view(slot), nullptr) << "a paused download keeps its window";
    }
    EXPECT_EQ(queue->session(1), first);
    EXPECT_FALSE(queue->hasSession(3));
    EXPECT_LT(record(1).BytesDone.bytes(), SlowFileSize);

    windows.events.clear();
    queue->resumeall();
    EXPECT_EQ(queue->session(1), first);
    EXPECT_EQ(queue->session(2), second);
    for (const int slot : {1, 2, 3}) {
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Running) << slot;
    }
    EXPECT_TRUE(queue->hasSession(3));
    EXPECT_FALSE(queue->hasSession(done));
    EXPECT_EQ(windows.events, (QStringList{QStringLiteral("show 1"), QStringLiteral("show 2"),
                                           QStringLiteral("open 3"), QStringLiteral("show 3")}));

    ASSERT_TRUE(WaitFor([&] { return completed(1) && completed(2) && completed(3); }));
    for (auto& [slot, bytes] : files) {
        expectFile(slot, bytes);
    }
    EXPECT_EQ(record(done).Running, FlagFalse);
}

// Restart goes on with the session a paused entry still has; without one it starts the entry
// when the limit allows and queues it when not.
TEST_F(QueueTest, RestartResumesOrStartsOrQueues) {
    const QByteArray one = serve(QStringLiteral("s1.bin"), SlowFileSize);
    const QByteArray two = serve(QStringLiteral("s2.bin"), SlowFileSize);
    startNginx();
    engine->settings.MaxSimulDownlads = 1;
    engine->settings.ShowDownloadWindows = FlagFalse;
    idle(url(Slow(1)));
    idle(url(Slow(2)));

    queue->Restart(1);
    EXPECT_EQ(StateOf(record(1)), ListEntryState::Running);
    EXPECT_EQ(windows.events, QStringList{QStringLiteral("open 1")}) << "not shown when off";

    const int changesBefore = listChanges;
    queue->Restart(2);
    EXPECT_EQ(StateOf(record(2)), ListEntryState::Queued);
    EXPECT_FALSE(queue->hasSession(2));
    EXPECT_EQ(windows.view(2), nullptr);
    EXPECT_EQ(listChanges, changesBefore + 1);

    ASSERT_TRUE(WaitFor([&] { return transferring(1); }));
    DownloadSession* session = queue->session(1);
    queue->PauseSlot(1);
    EXPECT_EQ(StateOf(record(1)), ListEntryState::Paused);
    EXPECT_EQ(queue->session(1), session);
    EXPECT_NE(windows.view(1), nullptr);

    queue->Restart(1);
    EXPECT_EQ(queue->session(1), session);
    EXPECT_EQ(StateOf(record(1)), ListEntryState::Running);
    EXPECT_FALSE(HeldByPause(record(1)));
    EXPECT_EQ(windows.events.last(), QStringLiteral("show 1")) << "restarting shows the window";

    // Entry 1's session may still be closing when the next tick starts 2; what counts is that
    // 1's transfer was over.
    std::optional<bool> oneDoneWhenTwoRan;
    QObject::connect(queue.get(), &DownloadQueue::entryChanged, [&](int slot) {
        if (slot == 2 && !oneDoneWhenTwoRan && StateOf(record(2)) == ListEntryState::Running) {
            oneDoneWhenTwoRan = completed(1);
        }
    });
    ASSERT_TRUE(tickUntil([&] { return completed(1) && completed(2); }));
    expectFile(1, one);
    expectFile(2, two);
    EXPECT_LE(maxRunning, 1);
    EXPECT_EQ(oneDoneWhenTwoRan, true);
}

// A session's end closes its window and leaves the table; what the session said goes to the
// window first. An error answer reports why and removes the entry.
TEST_F(QueueTest, SessionsReportThroughTheirWindowAndLeaveWhenTheyEnd) {
    const QByteArray bytes = serve(QStringLiteral("f1.bin"), 30000);
    startNginx();
    idle(url(Fast(1)));
    const int missing = idle(url(QStringLiteral("/missing.bin")));

    QObject::connect(queue.get(), &DownloadQueue::segmentsPlanned,
                     [&](int slot) { windows.events << QStringLiteral("planned %1").arg(slot); });
    queue->StartSession(1);
    queue->StartSession(missing);
    EXPECT_EQ(windows.slotsOf(QStringLiteral("show")), (std::vector<int>{1, missing}));
    ASSERT_TRUE(WaitFor([&] { return !queue->hasSession(1) && !queue->hasSession(missing); }));

    expectFile(1, bytes);
    ASSERT_EQ(windows.closed.size(), 2u);
    const RecordingObserver& done =
        *windows.closed[windows.slotsOf(QStringLiteral("close")).front() == 1 ? 0 : 1];
    EXPECT_TRUE(done.finished);
    EXPECT_GT(done.progress, 0);
    EXPECT_GT(done.entryChanges, 0);
    EXPECT_FALSE(done.fileLabels.isEmpty());
    EXPECT_EQ(done.whys, QStringList{QString()});
    EXPECT_GT(entryChanges[1], 0);

    ASSERT_EQ(endings[missing].size(), 1);
    EXPECT_TRUE(endings[missing].front().contains(QStringLiteral("404")))
        << endings[missing].front().toStdString();
    EXPECT_EQ(StateOf(record(missing)), ListEntryState::Failed);
    EXPECT_EQ(engine->prompts.messages.size(), 1);
    // Each ending came before its window closed, and the lists heard of it.
    for (const int slot : {1, missing}) {
        EXPECT_LT(windows.events.indexOf(QStringLiteral("end %1").arg(slot)),
                  windows.events.indexOf(QStringLiteral("close %1").arg(slot)));
    }
    EXPECT_GE(listChanges, 2);
    // Told when its part files exist, so that the list can be saved with them.
    EXPECT_EQ(windows.slotsOf(QStringLiteral("planned")), std::vector<int>{1});
    EXPECT_LT(windows.events.indexOf(QStringLiteral("planned 1")),
              windows.events.indexOf(QStringLiteral("end 1")));
}

// Closing one session pauses it and closes its window; stopping all at quit does the same for
// every running one and leaves the others; a later start continues from what was stored.
TEST_F(QueueTest, ClosingAndStoppingPauseAndDropTheSessions) {
    std::map<int, QByteArray> files;
    for (int i = 1; i <= 3; ++i) {
        files[i] = serve(QStringLiteral("s%1.bin").arg(i), SlowFileSize);
    }
    startNginx();
    for (int i = 1; i <= 3; ++i) {
        idle(url(Slow(i)));
    }
    const int waiting = queued(url(QStringLiteral("/slow/none.bin")));
    for (int slot = 1; slot <= 3; ++slot) {
        queue->StartSession(slot);
    }
    ASSERT_TRUE(WaitFor([&] { return transferring(1) && transferring(2) && transferring(3); }));

    queue->CloseSession(3);
    EXPECT_FALSE(queue->hasSession(3));
    EXPECT_EQ(windows.view(3), nullptr);
    EXPECT_EQ(endings[3], QStringList{QString()});
    EXPECT_EQ(StateOf(record(3)), ListEntryState::Paused);

    queue->StopAll();
    for (const int slot : {1, 2}) {
        EXPECT_FALSE(queue->hasSession(slot));
        EXPECT_EQ(windows.view(slot), nullptr);
        EXPECT_EQ(StateOf(record(slot)), ListEntryState::Paused);
        EXPECT_LT(record(slot).BytesDone.bytes(), SlowFileSize);
    }
    EXPECT_EQ(StateOf(record(waiting)), ListEntryState::Queued);
    EXPECT_EQ(queue->runningCount(), 0);

    // Started again, each goes on from the segments it had and ends whole.
    for (int slot = 1; slot <= 3; ++slot) {
        queue->StartSession(slot);
        EXPECT_TRUE(ResumingFromPlan(record(slot)));
    }
    ASSERT_TRUE(WaitFor([&] { return completed(1) && completed(2) && completed(3); }));
    for (auto& [slot, bytes] : files) {
        expectFile(slot, bytes);
    }
}

// The queue going away mid-transfer pauses what runs, closes the windows and frees every
// session; a new queue continues the download to a whole file.
TEST_F(QueueTest, ANewQueueContinuesWhatTheOldOneLeft) {
    const QByteArray bytes = serve(QStringLiteral("s1.bin"), SlowFileSize);
    startNginx();
    idle(url(Slow(1)));
    queue->StartSession(1);
    ASSERT_TRUE(WaitFor([&] { return transferring(1); }));

    queue.reset();
    EXPECT_EQ(windows.open.size(), 0u);
    EXPECT_EQ(StateOf(record(1)), ListEntryState::Paused);

    queue = std::make_unique<DownloadQueue>(engine->ctx, windows);
    queue->Restart(1);
    ASSERT_TRUE(WaitFor([&] { return completed(1); }));
    expectFile(1, bytes);
}
