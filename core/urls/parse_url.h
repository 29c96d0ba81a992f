#pragma once

#include <QString>
#include <cstdint>

// The parts of a download address, as the download list stores them.
struct ParsedUrl {
    int status = -1;  // 100 valid, -1 invalid
    QString host;
    std::int32_t port = 0;
    QString path;               // from the first "/" after the host, query included
    QString fileName;           // may be empty (a path ending in "/")
    std::int16_t protocol = 0;  // 0 HTTP, 1 FTP, 2 HTTPS
    QString user;
    QString password;
};

constexpr int UrlValid = 100;
constexpr int UrlInvalid = -1;

// Splits an "http://", "https://" or "ftp://" address (scheme in any letter case). The host part
// ends at the first "/", "?", "#" ("%23"), or for http(s) "\\"; the path begins with "/" whatever
// ended it. Invalid: another scheme, nothing ending the host part, an empty host, or a port that
// is not 1 to 65535. Credentials are the text before the last "@" of the host part, user and
// password split at its first ":"; an FTP address without them logs in as "anonymous" with an
// empty password. An IPv6 address stands in brackets ("http://[::1]:8080/"); `host` holds it
// without them.
ParsedUrl ParseUrl(const QString& url);

// A protocol's scheme as an address begins ("https://"), and the port it means without one.
QString SchemeOf(std::int16_t protocol);
std::int32_t DefaultPort(std::int16_t protocol);

// The host as an address or a "Host" header writes it: an IPv6 address in brackets (once).
QString HostInUrl(const QString& host);

// Whether `text` begins with a scheme a download can use: "http://", "https://" or "ftp://".
// The ways in that pick addresses out of other text match them in lower case only.
bool HasDownloadScheme(const QString& text, Qt::CaseSensitivity cs = Qt::CaseSensitive);

// The address as people see it in messages and logs: a password in it shown as "***".
QString UrlForDisplay(const QString& url);
