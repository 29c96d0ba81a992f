#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// What the parts of a download session ask of the session itself: ending it, the probe's life,
// and the steps between the probe, the segments and the join. The session implements it.
class SessionActions {
public:
    // Ends the session: `why` is empty for a plain close; `logged` stands for it in the log
    // where it quotes an address as a server gave it (empty: `why`).
    virtual void closeWith(const QString& why, const QString& logged = QString()) = 0;
    // A fault that asking again would only repeat (a damaged body, a part file that cannot be
    // written): the download waits, paused, with what it stored, and the user is told.
    virtual void stopPaused(const QString& why, const QString& message) = 0;
    // A server that answers wrongly whenever asked: the download fails, keeping what it
    // stored, and the user is told why.
    virtual void failWith(const QString& why) = 0;
    // The file on the server is another version than the one whose bytes the download holds
    // (`how` says what showed it): nothing more is written, and the download starts again from
    // the first byte or stops, as its rule or its user says.
    virtual void fileChanged(const QString& how) = 0;

    // The probe's connection is ours to act on only while it awaits its answer.
    virtual bool probeAwaitsAnswer() const = 0;
    // Each answer of the probe must come within its time: the wait starts again, or ends.
    virtual void restartProbeTimer() = 0;
    virtual void stopProbeTimer() = 0;
    virtual void endProbe() = 0;
    // The attempt failed with `why`: tried again, or the download fails.
    virtual void failProbeAttempt(const QString& why) = 0;
    // The server put the probe off (busy, overloaded): the download waits, holding no
    // connection, and asks again; once it has been put off as often as allowed it fails with
    // the words of `code`.
    virtual void probeBusy(std::optional<std::int64_t> retryAfterMs, std::int16_t code) = 0;
    // The probe starts again (a redirect, a login).
    virtual void probeAgain() = 0;

    // The probe took the file: the segments start, or a ZIP preview holds the download first.
    virtual void startSegments() = 0;
    virtual void waitForPreview() = 0;
    // Every segment is stored: the file is built from the parts.
    virtual void buildOutputFile() = 0;
    // The file is in place and the record completed: the window shows it, the session ends.
    virtual void reportFinished() = 0;

protected:
    ~SessionActions() = default;
};
