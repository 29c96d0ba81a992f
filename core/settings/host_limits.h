#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

// How many connections at once each server took, learnt from those that refused more: a server
// that refused an extra connection is remembered with the number that worked then, so the next
// download from it starts there instead of being refused again. A limit rises by one for every
// half hour without a refusal from that server, and is forgotten once it reaches the most a
// download ever runs.
//
// Kept in a small file beside the settings, a line "scheme://host:port LIMIT SECONDS" per server
// (SECONDS: when it last refused, since the epoch), written whole or not at all.
class HostLimits {
public:
    // Seconds since the epoch; tests set the hour.
    using Clock = std::function<std::int64_t()>;

    struct Remembered {
        QString server;  // "scheme://host:port"
        int limit;       // as it stands now, the rises included
    };

    static constexpr int MostConnections = 8;
    static constexpr std::int64_t RiseSeconds = 30 * 60;

    // Reads `path`; a missing or damaged file (or a damaged line) remembers nothing (of it).
    explicit HostLimits(QString path, Clock clock = {});

    // The server of a download address, as the file names it ("http://example.org:80"); empty
    // for an address that does not read as one.
    static QString ServerOf(const QString& url);

    // The connections a download from `server` may run: `wanted`, or fewer where it refused more.
    int limitFor(const QString& server, int wanted) const;
    // `server` refused a connection while `limit` others worked: remembered (the lower of it
    // and what was known) with the time, and saved. Returns why the file could not be written,
    // or empty.
    QString stepDown(const QString& server, int limit);
    // Every server remembered, with its limit now.
    QList<Remembered> remembered() const;
    // Forgets every server; returns why the file could not be written, or empty.
    QString forgetAll();

    QString path() const { return path_; }

private:
    struct Entry {
        QString server;
        int limit;
        std::int64_t refusedAt;
    };

    std::int64_t now() const;
    // The limit of `e` with its rises; MostConnections or more once it no longer holds.
    int current(const Entry& e) const;
    QString save() const;

    QString path_;
    Clock clock_;
    QList<Entry> entries_;
};

// The connections a download goes on with after an extra one was refused while `working` others
// brought bytes: halving steps (8, 4, 2, 1) from `current` down to what worked, at least one.
int ConnectionsAfterRefusal(int current, int working);

// The name of the file in the application folder (and in brenloft-get's work folder).
inline constexpr char HostLimitsFileName[] = "host-limits";
