#pragma once

// The download queue on a whole engine, against a real nginx: windows recorded by slot, the
// questions of adding answered from a script (tests/support), and every queue signal logged in
// order.

#include <gtest/gtest.h>

#include <QObject>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/recording_views.h"
#include "tests/support/scripted_prompts.h"

namespace queue_test {

using namespace session_test;

inline AddRequest Request(const QString& url, int deferFlag = 0, int updateFlag = 0) {
    AddRequest request;
    request.url = url;
    request.deferFlag = deferFlag;
    request.updateFlag = updateFlag;
    return request;
}

// About 2.5 seconds each at the slow rate: long enough to be seen running, short enough to
// let finish. One segment, as below 50,000 bytes.
constexpr qsizetype SlowFileSize = 40000;
constexpr std::int64_t SlowRate = 16000;

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        served = box.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served));
        engine = std::make_unique<Engine>(box.path());
        queue = std::make_unique<DownloadQueue>(engine->ctx, windows);
        QObject::connect(queue.get(), &DownloadQueue::sessionEnded,
                         [this](int slot, const QString& why) {
                             windows.events << QStringLiteral("end %1").arg(slot);
                             endings[slot] << why;
                         });
        QObject::connect(queue.get(), &DownloadQueue::listChanged, [this] { ++listChanges; });
        QObject::connect(queue.get(), &DownloadQueue::entryChanged,
                         [this](int slot) { ++entryChanges[slot]; });
    }

    // Files under "/" at full speed and under "/slow/" at the slow rate.
    void startNginx() {
        nginx = std::make_unique<NginxPeer>(served);
        nginx->addRateLimitedLocation(QStringLiteral("/slow/"), SlowRate);
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
    }

    // A file to serve with random contents; returns them.
    QByteArray serve(const QString& name, qsizetype size) {
        const QByteArray bytes = RandomBytes(size);
        EXPECT_TRUE(WriteFile(served + u'/' + name, bytes));
        return bytes;
    }

    QString url(const QString& path) const { return nginx->url(path); }

    // `count` files of `size` bytes queued from nginx's slow location, 8 KiB/s per connection,
    // with room for all of them to run at once over eight segments each.
    std::map<int, QByteArray> queueSlowFiles(int count, qsizetype size) {
        std::map<int, QByteArray> files;
        for (int i = 1; i <= count; ++i) {
            files[i] = serve(QStringLiteral("f%1.bin").arg(i), size);
        }
        nginx = std::make_unique<NginxPeer>(served);
        nginx->addRateLimitedLocation(QStringLiteral("/slow/"), 8 * 1024);
        EXPECT_TRUE(nginx->start()) << nginx->error().toStdString();
        engine->settings.MaxSimulDownlads = count;
        engine->settings.MaxSegments = 8;
        for (int i = 1; i <= count; ++i) {
            EXPECT_EQ(queued(url(QStringLiteral("/slow/f%1.bin").arg(i))), i);
        }
        return files;
    }

    // An entry in the list that nothing has started, as "LATER" leaves it.
    int idle(const QString& address) { return engine->add(address); }
    int queued(const QString& address, int priority = 1) {
        const int slot = idle(address);
        record(slot).Queued = 1;
        record(slot).Priority = priority;
        return slot;
    }

    DownloadRecord& record(int slot) { return engine->record(slot); }
    bool completed(int slot) { return StateOf(record(slot)) == ListEntryState::Finished; }
    bool transferring(int slot) {
        return StateOf(record(slot)) == ListEntryState::Running &&
               record(slot).BytesDone.bytes() > 0;
    }

    // The entry finished, its file holding exactly these bytes.
    void expectFile(int slot, const QByteArray& bytes) {
        SCOPED_TRACE(QStringLiteral("slot %1").arg(slot).toStdString());
        const DownloadRecord& r = record(slot);
        EXPECT_EQ(StateOf(r), ListEntryState::Finished) << endings[slot].join(u'|').toStdString();
        EXPECT_EQ(r.Running, FlagFalse);
        EXPECT_EQ(r.BytesDone.bytes(), bytes.size());
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(bytes)) << r.SavePath.toStdString();
    }

    // The scheduler's tick as far as the queue goes, every 100 ms until `done` holds.
    bool tickUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [this] {
            queue->ApplySchedule(OleDate::now());
            queue->StartNextQueued();
            maxRunning = std::max(maxRunning, queue->runningCount());
        });
        tick.start(100);
        return WaitFor(done, deadline);
    }

    Sandbox box;
    QString served;
    std::unique_ptr<NginxPeer> nginx;
    std::unique_ptr<Engine> engine;
    RecordingWindows windows;
    std::unique_ptr<DownloadQueue> queue;  // last: it goes first, before the engine it uses
    std::map<int, QStringList> endings;
    std::map<int, int> entryChanges;
    int listChanges = 0;
    int maxRunning = 0;
};

}  // namespace queue_test
