#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// What brenloft-get was asked to do.
struct GetOptions {
    QString folder = QStringLiteral(".");
    int segments = 0;        // 0: the settings' default
    int simultaneous = 3;    // downloads running at once when several addresses are given
    std::int32_t limit = 0;  // bytes per second, 0: no limit
    QString proxyHost;
    int proxyPort = 0;
    QString user;
    QString password;
    bool quiet = false;
    bool verbose = false;   // the download's story on stderr, for a bug report
    QString caCertificate;  // an extra CA file (PEM) that https:// servers may be signed by
    bool checkCertificates = true;
    QStringList urls;
};

constexpr const char* GetUsage =
    "usage: brenloft-get [-d DIR] [-n SEGMENTS] [-j DOWNLOADS] [--limit BYTES_PER_S] "
    "[--proxy HOST:PORT] [--user U --password P] [--ca-certificate FILE] [--no-check-certificate] "
    "[-q] [-v] URL...";

// A rate in bytes per second: digits with an optional decimal point and an optional suffix,
// k (KiB) or M (MiB), upper or lower case; nothing when it is no rate or outside 1..2^31-1.
std::optional<std::int32_t> ParseRate(const QString& text);

// The options, or nothing with `error` saying what is wrong with the arguments.
std::optional<GetOptions> ParseGetOptions(const QStringList& arguments, QString& error);
