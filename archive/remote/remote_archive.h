#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

struct DownloadRecord;

// What the range reads of a remote archive need of its download, copied when they start, so a
// record changed or removed meanwhile does not disturb them.
struct RemoteArchive {
    std::int16_t protocol = 0;  // Protocol::Http or Protocol::Https
    QString host;
    std::int32_t port = 0;
    QString urlPath;  // the request target without a proxy
    QString url;      // the request target through a plain HTTP proxy
    qint64 fileSize = 0;

    static RemoteArchive fromRecord(const DownloadRecord& record);
};

// Why a preview or a member fetch stopped. The window words the reason in the user's language
// and adds the detail (a status line, a socket error, what is wrong with the directory).
struct RemoteArchiveFailure {
    enum class Reason {
        NoRanges,     // the server answered the range with the whole file (200) or without a range
        WrongRange,   // a 206 whose Content-Range is not what was asked, or whose total differs
        ServerError,  // any other status
        NoAnswer,     // 30 s without a byte on the connection
        Connection,   // could not connect, or the connection broke (TLS problems included)
        Damaged,      // the directory or a member's bytes do not hold together
        Disk,         // a fetched member could not be written
    };
    Reason reason = Reason::Connection;
    QString detail;
};
