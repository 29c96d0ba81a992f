#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

class TextTable;

// A server that says "later" (busy, overloaded, a gateway that could not reach it) is asked
// again after a while instead of failing the download: these read how long it asks for and lay
// out the waits when it names none.
namespace Busy {
inline constexpr std::int64_t FirstWaitMs = 2000;
inline constexpr std::int64_t LongestWaitMs = 10 * 60 * 1000;
// The most a server's own Retry-After holds a connection back (a timer's range is a few weeks).
inline constexpr std::int64_t LongestRetryAfterMs = 24 * 60 * 60 * 1000;
inline constexpr int Tries = 10;

// 408, 429, 500, 502, 503 and 504: answers that another try may well turn into the file.
bool TransientStatus(int status);
// FTP's 421, or a 530 whose words say the server has too many users or connections (a wrong
// password is a 530 as well, and asking again would not mend it).
bool BusyFtpReply(int code, QByteArrayView text);
// The Retry-After of a response head in milliseconds from `now`: a number of seconds or an HTTP
// date (a date gone by is 0). Nothing when the head has none or it cannot be read.
std::optional<std::int64_t> RetryAfterMs(const QByteArray& head, const QDateTime& now);
// The wait before try `waited` + 2 where the server named none: `firstMs`, doubling each time,
// never longer than ten minutes.
std::int64_t BackoffMs(int waited, std::int64_t firstMs);
// What is waited before the next try: the server's Retry-After where it gave one, else the
// backoff.
std::int64_t WaitMs(std::optional<std::int64_t> retryAfterMs, int waited, std::int64_t firstMs);
// "Server busy: retrying in 1 min 40 s", in the language of `texts`.
QString Words(std::int64_t msLeft, const TextTable& texts);
}  // namespace Busy

// The waits in a row of one connection (or of the probe) that the server put off, each on the
// event loop's timers. It holds no socket: whoever begins a wait closes the connection first.
class BusyWait {
public:
    // `changed` runs when a wait begins, once a second while it lasts (the time left shown
    // counts down), and when it ends.
    explicit BusyWait(std::function<void()> changed = {});
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;

    // Begins the next wait, after which `then` runs. False, and nothing begun, when this was
    // the `tries`-th transient answer in a row: the caller fails with the server's reason.
    bool begin(std::optional<std::int64_t> retryAfterMs, std::int64_t firstMs, int tries,
               std::function<void()> then);
    // Pause, close: the wait ends without trying again, and the count starts afresh.
    void cancel();
    // The server gave a real answer: the next transient one counts as the first again.
    void reset() { answers_ = 0; }
    bool waiting() const { return timer_.isActive(); }
    std::int64_t msLeft() const { return waiting() ? deadline_.remainingTime() : 0; }
    // How many waits this one has begun, pause or not: a front end tells each once.
    int begun() const { return begun_; }
    std::int64_t lastWaitMs() const { return lastWaitMs_; }

private:
    QTimer timer_;
    QTimer ticker_;
    QDeadlineTimer deadline_;
    std::function<void()> changed_;
    std::function<void()> then_;
    int answers_ = 0;
    int begun_ = 0;
    std::int64_t lastWaitMs_ = 0;
};
