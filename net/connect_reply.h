#pragma once

#include <QByteArray>
#include <QByteArrayView>

// An HTTP proxy's answer to CONNECT, read from the bytes received so far. No socket in sight:
// the tunnel feeds it what has come, the tests and the fuzzer anything at all.
struct ConnectReply {
    enum class Status { Incomplete, Complete, Malformed };
    Status status = Status::Incomplete;
    int code = 0;              // the status code, once Complete
    QByteArray statusLine;     // "HTTP/1.1 200 Connection established", without its line end
    qsizetype headLength = 0;  // the head with its blank line: what follows is the target's
};

// A proxy's answer to CONNECT is a status line and a few headers; anything longer is not one.
inline constexpr qsizetype MaxConnectReplyHead = 16 * 1024;

ConnectReply ParseConnectReply(QByteArrayView received);
