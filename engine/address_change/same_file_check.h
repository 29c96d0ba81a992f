#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>

#include "engine/http/one_shot_request.h"

class TextTable;
class ProxyResolver;
class VelmoraSockets;
struct DownloadRecord;
struct Settings;

// What a new address was found to serve, measured against an unfinished download's bytes.
struct SameFileVerdict {
    enum class Outcome : std::uint8_t {
        Same,          // same size, same strong ETag where both have one, same bytes
        OtherName,     // the answer names another file (only when the name must match)
        OtherSize,     // `here` and `there` are the two sizes
        OtherVersion,  // both have a strong ETag and they differ (`here`, `there` in `detail`)
        OtherBytes,    // the range compared differs; `here` is the first byte compared
        WebPage,       // a web page (text/html) instead of the file
        NoRanges,      // the address sends the file whole, never a part of it
        Refused,       // an error status (`detail`: the status line)
        Unreachable,   // no answer, or none that could be read (`detail`: why)
        Unusable,      // not an http:// or https:// address (`detail`: what it is)
    };
    Outcome outcome = Outcome::Unreachable;
    std::int64_t here = -1;
    std::int64_t there = -1;
    QString detail;
    QString etagHere;  // OtherVersion: the entry's ETag and the new answer's
    QString etagThere;
    QString serverName;  // the file name the answer gives (its Content-Disposition, else the path)
    QString finalUrl;    // where the redirects led, for the log

    bool same() const { return outcome == Outcome::Same; }
};

// Why the address was refused, in the language of `texts` (English where it lacks the words):
// "another size: 1,204 MB here, 1,190 MB there". Empty for Same.
QString VerdictWords(const SameFileVerdict& verdict, const TextTable& texts);
// The same in the engine's English, for the log and brenloft-get.
QString VerdictWords(const SameFileVerdict& verdict);

// Asks a new address whether it serves the very file an unfinished download holds bytes of,
// before any of its bytes joins them: one ranged GET (redirects followed) for the last 64 KiB a
// segment received, whose answer must give the entry's total size, its strong ETag where both
// have one, and exactly the bytes on disk. An entry with nothing received is compared by size
// and ETag alone: there is nothing to mix. Nothing is written; the entry is only read at Start.
//
// `finished` comes once per Start, from the event loop, so a receiver may delete the check.
class SameFileCheck : public QObject {
    Q_OBJECT
public:
    // How many redirects the check follows, as a download's probe does.
    static constexpr int MaxRedirects = 10;
    // The range compared: at most this many bytes, ending where a segment's bytes end.
    static constexpr std::int64_t CompareBytes = 64 * 1024;

    SameFileCheck(VelmoraSockets& sockets, const Settings& settings, QObject* parent = nullptr,
                  ProxyResolver* resolver = nullptr);

    // `newUrl` as typed or handed over (encoded or not); `cookie` the browser's Cookie header for
    // it, sent only to its host. With `nameMustMatch` an answer naming another file than the
    // entry's is refused (an address found by its likeness, not chosen by the user).
    void Start(const DownloadRecord& entry, const QString& newUrl, const QString& cookie = {},
               bool nameMustMatch = false);
    // Stops a check running; no signal follows.
    void Abort();

    // Tests wait less; takes effect at the next Start.
    void setWait(std::chrono::milliseconds wait) { wait_ = wait; }

signals:
    void finished(const SameFileVerdict& verdict);

private:
    void ask();
    QString checkHead(const QByteArray& head);
    void onAnswered(int status, const QByteArray& body, const QByteArray& head);
    void onFailed(const OneShotFailure& failure);

    OneShotRequest request_;
    std::chrono::milliseconds wait_{30000};
    // What the entry holds, taken at Start.
    QString url_;  // the address asked now (the new one, then where redirects lead)
    QString cookie_;
    QString entryName_;
    bool nameMustMatch_ = false;
    std::int64_t size_ = -1;
    QString etag_;
    std::int64_t first_ = 0;  // the range compared, both ends inclusive; first_ > last_: none
    std::int64_t last_ = -1;
    QByteArray onDisk_;
    int redirects_ = 0;
    SameFileVerdict pending_;  // what the head check found
    QString redirectTo_;       // where the answer's head sent the check next
};
