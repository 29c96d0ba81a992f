#pragma once

#include <QTimer>

class DownloadSession;
class SocketClass;
struct SegmentRecord;

// The segments' connections: lays out the plan (or takes up a saved one), connects one
// segment after another, restarts a segment on a new connection, and notes segments as
// complete until the file can be built.
class SegmentConnections {
public:
    explicit SegmentConnections(DownloadSession& session);

    // Plans the segments, or takes up the plan of a resumed download, and starts connecting.
    void start();
    // Stops connecting further segments (pause, close).
    void stop() { pacer_.stop(); }
    // Segment k + 1's connection is up.
    void connected(SocketClass& socket, int k);
    // Segment `segment` (1-based) starts over on a new connection; `why` starts the log line.
    void restart(int segment, const char* why);
    // The server closed or reset slot k's connection before its range was done: the segment
    // connects again at once, unless the last connection ended the same way without a byte.
    void connectionLost(int k);
    // Slot k's body ended where its size was unknown: its end fixes the file's size.
    void bodyEnded(int k);
    void complete(int k);
    bool allComplete() const;
    // Every segment answered a range with the whole file: the file comes as one segment.
    void fallBackToOneSegment();

private:
    // A part file holding less than its segment has stored (removed, or the first part of a
    // finished join) would leave a hole in the file: such a segment is fetched again whole.
    void startOverSegmentsWithoutTheirBytes();
    void connectNext(int segment);
    // The pacer's wait is cut short: segment `segment`'s predecessor is up and asking.
    void connectNextNow(int segment);
    // Builds the file once every segment is stored.
    void buildWhenAllComplete();
    // Before a segment gets a new connection: what the old one stored counts as done, or, where
    // the server knows no ranges, everything is fetched again from the first byte. Otherwise
    // the new answer would be written behind what the old one already wrote.
    void forgetConnectionProgress(SegmentRecord& s);

    DownloadSession& session_;
    // The longest pause between one segment's connect and the next; the next one goes as soon
    // as the last one's connection is up and its request sent.
    QTimer pacer_;
    int pacedSegment_ = 0;  // the segment the pacer connects next
};
