#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

// What the probe learns from the head of a response.
struct ResponseHead {
    int status = 0;
    QString location;
    std::int64_t contentLength = 0;  // whole bytes, 0 to the largest size a Currency holds
    bool hasContentLength = false;
    QString contentType;
    QString fileName;  // from Content-Disposition's filename=
    bool chunked = false;
    QDateTime lastModified;  // Last-Modified, in UTC; invalid when not sent or not readable
    // A strong ETag as sent, quotes included; empty without one or for a weak (W/) one, which
    // never vouches for the same bytes.
    QString etag;
    QString contentEncoding;     // as sent; empty without the header
    bool badHeaderLine = false;  // a header line with a blank before its colon
    // The whole file's digests, as sent (several lines joined with ", "); see digest_headers.h.
    QString reprDigest;
    QString digest;

    friend bool operator==(const ResponseHead&, const ResponseHead&) = default;
};

// Reads the head from the first chunk received, bytes as they came off the socket. Only
// complete lines count: a line still missing its LF is ignored (the status line excepted), and
// the first empty line ends the head, so body bytes in the same chunk are never read as
// headers. Any input is safe, NUL bytes and binary data included.
ResponseHead ParseResponseHead(const QByteArray& chunk);

// The answer's first line, for the user: what the server said ("HTTP/1.1 403 Forbidden"), at
// most 200 bytes of it, control characters blanked; not what it sent after it.
QString StatusLineOf(const QByteArray& head);
