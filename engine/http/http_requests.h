#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "core/urls/user_agent.h"

// What a request names: taken from the download's record and the route to its server.
struct HttpRequestTarget {
    QString host;  // server host name, no port
    QString path;  // path on the server, begins with "/"
    QString url;   // full URL, the request target when going through an HTTP proxy
    QString user;  // basic authorization is sent only when user and password are both set
    QString password;
    QString referer;  // empty when none
    bool proxyHttp = false;
    bool https = false;     // the address is https://: its default port is 443, not 80
    std::int32_t port = 0;  // 0 or the scheme's default leaves "Host" without a port
    QString cookie{};       // the Cookie header's value, empty when none goes to this server
    // Sent as If-Range with a range: the bytes come only from the version of the file that
    // this validator names (a strong ETag or an HTTP date), else the server sends it whole.
    QByteArray ifRange{};
    QString userAgent{};  // empty: the program's own
    // "Proxy-Authorization" for the plain HTTP proxy (proxyHttp), once it asked for a login.
    QByteArray proxyAuthorization{};
};

// The probe: learns size, name and range support with an open range from byte 0.
QByteArray ProbeRequest(const HttpRequestTarget& target);

// One segment of a download whose server honours ranges; both bytes inclusive.
QByteArray SegmentRequest(const HttpRequestTarget& target, std::int64_t firstByte,
                          std::int64_t lastByte);

// The whole file in one connection, for a server that ignores ranges.
QByteArray WholeFileRequest(const HttpRequestTarget& target);

// A range of a remote archive, read without downloading it (its directory, a member): both
// bytes inclusive, and no more headers than a server needs to answer it.
QByteArray ArchiveRangeRequest(const HttpRequestTarget& target, std::int64_t firstByte,
                               std::int64_t lastByte);
