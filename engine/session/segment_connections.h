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
    // Segment `segment` (1-based) starts over on a new connection.
    void restart(int segment);
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
    // Builds the file once every segment is stored.
    void buildWhenAllComplete();
    // Before a segment gets a new connection: what the old one stored counts as done, or, where
    // the server knows no ranges, everything is fetched again from the first byte. Otherwise
    // the new answer would be written behind what the old one already wrote.
    void forgetConnectionProgress(SegmentRecord& s);

    DownloadSession& session_;
    QTimer pacer_;  // the pause between one segment's connect and the next
};
