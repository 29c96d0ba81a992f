#pragma once

#include <QTimer>
#include <cstdint>

class FtpSegments;
class SegmentConnections;
class SegmentSplitter;
class SessionCore;

// The watchdog: once a second it looks for segments that have brought too little for too long
// (a silent, stalled or trickling connection, an FTP reply that never comes) and starts each
// of them again on a new connection.
class SessionWatchdog {
public:
    // A segment silent for longer than the context's segmentSilenceMs is restarted.
    // A new connection's first answer may take this long on top of the silence time.
    static constexpr std::int32_t FirstAnswerGraceMs = 5000;

    SessionWatchdog(SessionCore& core, SegmentSplitter& splitter, SegmentConnections& segments,
                    FtpSegments& ftpSegments);

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    void tick();

private:
    SessionCore& core_;
    SegmentSplitter& splitter_;
    SegmentConnections& segments_;
    FtpSegments& ftpSegments_;
    QTimer timer_;
};
