#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// What a request names: taken from the download's record and the "ProxyHTTP" setting. The port
// only matters for connecting and so is not here.
struct HttpRequestTarget {
    QString host;  // server host name, no port
    QString path;  // path on the server, begins with "/"
    QString url;   // full URL, the request target when going through an HTTP proxy
    QString user;  // basic authorization is sent only when user and password are both set
    QString password;
    QString referer;  // empty when none
    bool proxyHttp = false;
};

// The probe: learns size, name and range support with an open range from byte 0.
QByteArray ProbeRequest(const HttpRequestTarget& target);

// One segment of a download whose server honours ranges; both bytes inclusive.
QByteArray SegmentRequest(const HttpRequestTarget& target, std::int64_t firstByte,
                          std::int64_t lastByte);

// The whole file in one connection, for a server that ignores ranges.
QByteArray WholeFileRequest(const HttpRequestTarget& target);
