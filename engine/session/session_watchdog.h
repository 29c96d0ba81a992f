#pragma once

#include <QTimer>
#include <cstdint>

class DownloadSession;

// The watchdog: once a second it looks for segments that have brought too little for too long
// (a silent, stalled or trickling connection, an FTP reply that never comes) and starts each
// of them again on a new connection.
class SessionWatchdog {
public:
    // A segment silent for longer than the context's segmentSilenceMs is restarted.
    // A new connection's first answer may take this long on top of the silence time.
    static constexpr std::int32_t FirstAnswerGraceMs = 5000;

    explicit SessionWatchdog(DownloadSession& session);

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    void tick();

private:
    DownloadSession& session_;
    QTimer timer_;
};
