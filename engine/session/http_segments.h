#pragma once

#include <QByteArray>
#include <QString>

struct ResponseHead;

class SegmentConnections;
class SegmentWriter;
class SessionActions;
class SessionCore;
class SocketClass;

// HTTP segments: each connection asks for its segment's range (or the whole file where the
// server knows no ranges), checks that the answer is the range it asked for, and hands the
// body, de-chunked where need be, to the writer. A wrong answer is asked again; the third in
// a row for a segment ends the download with its reason, as asking on would only repeat it.
class HttpSegments {
public:
    static constexpr int MaxRefusals = 3;

    HttpSegments(SessionCore& core, SessionActions& session, SegmentConnections& segments,
                 SegmentWriter& writer)
        : core_(core), session_(session), segments_(segments), writer_(writer) {}

    void sendRequest(SocketClass& socket, int k);
    void takeData(SocketClass& socket, int k);

private:
    // Whether slot k's answer is taken; `refusal` says why a wrong one is not (empty for an
    // answer that is merely not the range, or not yet the file: a 200, an error status).
    bool acceptHead(int k, const ResponseHead& head, const QByteArray& headBytes, QString& refusal);
    // Slot k's answer (its head) was 429 or 503 while other connections work: the download
    // goes on with fewer connections. False otherwise.
    bool busyExtraConnection(int k, int status);
    // Slot k's answer was refused with `why`: asked again, or the download fails.
    void refused(int k, const QString& why);
    // False when the answer is of another version of the file or a web page: the download
    // stops or starts again (from the event loop), and the answer is not taken.
    bool sameFile(const ResponseHead& head, const QByteArray& headBytes);
    void takeChunks(int k, const QByteArray& data);
    // Slot k's answer puts it off (busy, overloaded): the segment waits. False for any other.
    bool putOff(int k, int status, const QByteArray& headBytes);
    // The plain HTTP proxy answered 407: asked again with its login, or the download fails.
    bool proxyAsksLogin(int k, int status);
    // Hands body bytes to the writer, only as far as the answer's range goes; a range that
    // ended short of the one asked for asks again for the rest.
    void store(int k, const char* data, qsizetype length);

    SessionCore& core_;
    SessionActions& session_;
    SegmentConnections& segments_;
    SegmentWriter& writer_;
};
