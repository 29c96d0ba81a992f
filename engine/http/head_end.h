#pragma once

#include <QByteArray>

// Where a server's answer has not ended its head by this many bytes, it is refused rather than
// held.
constexpr qsizetype MaxHttpHeadBytes = 64 * 1024;

// Where the head of an HTTP response ends: the index of its blank line, with `bodyStart` set
// to the first body byte; -1 while the blank line has not arrived.
inline qsizetype FindHeadEnd(const QByteArray& bytes, qsizetype& bodyStart) {
    const qsizetype crlf = bytes.indexOf("\r\n\r\n");
    const qsizetype lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf)) {
        bodyStart = crlf + 4;
        return crlf;
    }
    if (lf >= 0) {
        bodyStart = lf + 2;
        return lf;
    }
    return -1;
}
