#pragma once

#include <cstdint>

class FtpProbe;
class SegmentConnections;
class SegmentWriter;
class SessionCore;
struct FtpReply;

// FTP segments: per segment a control connection that logs in and asks for the file from the
// segment's start ("REST", "RETR"), and a passive data connection that carries the bytes. A
// segment the server has no session for waits until another one ends. How far each segment's
// dialogue has gone is its record's state (logged in, transfer asked for, waiting), which the
// watchdog and the download window read as well.
class FtpSegments {
public:
    // `probe` names the file's path on the server.
    FtpSegments(SessionCore& core, SegmentConnections& segments, SegmentWriter& writer,
                const FtpProbe& probe)
        : core_(core), segments_(segments), writer_(writer), probe_(probe) {}

    // Replies on slot k's control connection.
    void takeReplies(int k);
    // Bytes on slot k's data connection.
    void takeData(int k);
    // Slot k's data connection closed.
    void dataClosed(int k);
    // A segment ended and left its server session free: the first waiting segment logs in.
    void startWaitingSegment();
    // Every segment left waits, so none would ever end to start another one: after a while
    // the first of them tries again.
    void watchWaitingSegments(std::int32_t now);
    // The server refused a session to one of this download's connections: no range is split
    // off for yet another connection, which would only wait as well.
    bool sessionsFull() const { return sessionsFull_; }

private:
    void reply(int k, const FtpReply& reply);
    void loggedIn(int k);
    void openDataConnection(int k, const FtpReply& reply);
    void requestFile(int k);
    void openingReply(int k, const FtpReply& reply);
    void transferEnded(int k);

    SessionCore& core_;
    SegmentConnections& segments_;
    SegmentWriter& writer_;
    const FtpProbe& probe_;
    bool sessionsFull_ = false;
};
