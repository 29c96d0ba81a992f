#pragma once

#include <QTimer>
#include <cstdint>

class FtpSegments;
class SegmentConnections;
class SegmentSplitter;
class SessionActions;
class SessionCore;

// The watchdog: once a second it looks for segments that have brought too little for too long
// (a silent, stalled or trickling connection, an FTP reply that never comes) and starts each
// of them again on a new connection. While the server sends nothing on any connection, the
// download says it is reconnecting; after the settings' number of tries in a row it fails,
// keeping what it stored.
class SessionWatchdog {
public:
    // A segment silent for longer than the context's segmentSilenceMs is restarted.
    // A new connection's first answer may take this long on top of the silence time.
    static constexpr std::int32_t FirstAnswerGraceMs = 5000;

    SessionWatchdog(SessionCore& core, SessionActions& session, SegmentSplitter& splitter,
                    SegmentConnections& segments, FtpSegments& ftpSegments);

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    void tick();

private:
    // Restarts slot k's silent segment j; false when the download failed instead.
    bool restartSilent(int k, int j, std::int32_t silent);
    // Tells the views when the reconnect attempt changed.
    void showAttempt();

    SessionCore& core_;
    SessionActions& session_;
    SegmentSplitter& splitter_;
    SegmentConnections& segments_;
    FtpSegments& ftpSegments_;
    QTimer timer_;
    int shownAttempt_ = 0;
};
