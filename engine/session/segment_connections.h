#pragma once

#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/session/busy_wait.h"
#include "engine/session/connection_slot.h"

class FtpSegments;
class SegmentSplitter;
class SessionActions;
class SessionCore;
struct DownloadRecord;
struct SegmentRecord;

// The segments' connections: lays out the plan (or takes up a saved one), connects one
// segment after another on the free connection slots, restarts a segment on a new connection,
// gives a slot that falls free a segment still waiting or a range split off a running one, and
// notes segments as complete until the file can be built.
class SegmentConnections {
public:
    SegmentConnections(SessionCore& core, SessionActions& session, SegmentSplitter& splitter,
                       FtpSegments& ftpSegments);

    // Plans the segments, or takes up the plan of a resumed download, and starts connecting.
    void start();
    // Stops connecting further segments (pause, close); busy waits end without asking again.
    void stop();
    // Slot k's connection is up: false when it serves no segment. The caller sends an HTTP
    // segment's request, then lets the next segment connect (connectNextNow).
    bool connected(int k);
    // The pacer's wait is cut short: slot k, the last to connect, is up and asking.
    void connectNextNow(int k);
    // Segment `segment` (1-based) starts over on a new connection; `why` starts the log line.
    void restart(int segment, const char* why);
    // Slot k's segment restarts once the current handler has returned (`why` is a literal).
    void restartSoon(int k, const char* why);
    // The server closed or reset slot k's connection before its range was done: the segment
    // connects again at once, unless the last connection ended the same way without a byte.
    void connectionLost(int k);
    // Slot k's body ended where its size was unknown: its end fixes the file's size.
    void bodyEnded(int k);
    void complete(int k);
    bool allComplete() const;
    // Every segment answered a range with the whole file: the file comes as one segment.
    void fallBackToOneSegment();
    // Slot k's answer was transient (busy, overloaded): its connection closes and its segment,
    // keeping its bytes, asks again after the wait; once the server has put it off as often as
    // allowed in a row, the download fails with `why`. Any transient refusal of a segment comes
    // through here.
    void waitBusy(int k, std::optional<std::int64_t> retryAfterMs, const QString& why);
    // Slot k's server gave a real answer: its next transient one counts as the first again.
    void answered(int k) { busy_[k]->reset(); }
    bool waitingBusy(int k) const { return busy_[k]->waiting(); }
    // While every connection serving a segment waits: the shortest time left; nothing else.
    std::optional<std::int64_t> busyLeftMs() const;
    // The waits begun so far, and how long the last one was, for front ends that tell each.
    int busyWaitsBegun() const { return busyBegun_; }
    std::int64_t lastBusyWaitMs() const { return lastBusyWaitMs_; }
    // Slot k's extra connection was refused (`how`: a reset or refusal before any byte, or a
    // busy answer) while others bring bytes: the download goes on with fewer connections, the
    // slot's range waits for one of them, and the server's limit is remembered. False, and
    // nothing done, where no other connection works: the usual handling of the failure applies.
    bool stepDownAfterRefusal(int k, const QString& how);
    // A slot that is free takes a segment waiting for a connection, or a range split off a
    // running segment; one connect at a time.
    void connectNext();

private:
    // A part file holding less than its segment has stored (removed, or the first part of a
    // finished join) would leave a hole in the file: such a segment is fetched again whole.
    // The plan of a resumed download goes on; false when an earlier run had built the file.
    bool continuePlan(DownloadRecord& r, bool ranges, std::int32_t now);
    // A new plan for the file's size; false when the file is already whole in place.
    bool makePlan(DownloadRecord& r, bool ranges, std::int32_t now);
    // The one file is given its room on the disk before the first byte; false (the download
    // then waits, paused, saying why) when the disk lacks it.
    bool reserveRoom(const DownloadRecord& r);
    void logPlan(const DownloadRecord& r, bool resumed, bool ranges) const;
    void startOverSegmentsWithoutTheirBytes();
    // The first segment neither stored nor served by a slot; 0 when there is none.
    int nextUnserved() const;
    // Every segment has had its connection: the window's buttons and the ZIP preview are
    // offered, and a download resumed with everything stored is built.
    void allStarted();
    void connectOn(int k, int segment);
    // Builds the file once every segment is stored.
    void buildWhenAllComplete();
    // Before a segment gets a new connection: what the old one stored counts as done, or, where
    // the server knows no ranges, everything is fetched again from the first byte. Otherwise
    // the new answer would be written behind what the old one already wrote.
    void forgetConnectionProgress(SegmentRecord& s);
    // `wanted` connections, or fewer where the download's server took fewer before.
    int serverLimit(int wanted) const;
    // Slots serving a segment, and those of them whose answer's head was taken.
    int busySlots() const;
    int workingSlots(int except) const;
    // Gives slot k's segment back to wait for a connection, closing its connection.
    void giveBack(int k);

    SessionCore& core_;
    SessionActions& session_;
    SegmentSplitter& splitter_;
    FtpSegments& ftpSegments_;
    // The longest pause between one segment's connect and the next; the next one goes as soon
    // as the last one's connection is up and its request sent.
    QTimer pacer_;
    int pacedSlot_ = -1;  // the slot that connected last
    int connectionLimit_ = 1;
    std::array<std::unique_ptr<BusyWait>, ConnectionSlots::Probe> busy_;
    int busyBegun_ = 0;
    std::int64_t lastBusyWaitMs_ = 0;
    bool allStarted_ = false;
};
