#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <optional>

#include "core/checksums/checksum.h"
#include "engine/checksum/sums_files.h"
#include "engine/http/one_shot_request.h"

class ProxyResolver;
class VelmoraSockets;
struct DownloadRecord;
struct Settings;

// Sums files already asked for in this run, by address: their bodies (empty for none), so that
// a hundred downloads from one folder ask for its SHA256SUMS once.
using SumsFileCache = std::map<QString, QByteArray>;

// Asks a download's server for the files that name its checksum (see SumsSourcesFor), one at
// a time with small GETs, until one names it: a sibling file, then the folder's sums files.
// Never sends Want-Digest or Want-Repr-Digest. A missing file (any error status, a web page, a
// body over MaxSumsFileBytes, no answer) is passed over.
class ChecksumLookup : public QObject {
    Q_OBJECT
public:
    ChecksumLookup(VelmoraSockets& sockets, const Settings& settings, SumsFileCache& cache,
                   QObject* parent = nullptr, ProxyResolver* resolver = nullptr);

    // The entry is only read here. A lookup running is dropped first.
    void Start(const DownloadRecord& entry);
    void Abort();
    bool running() const { return running_; }
    // Tests wait less.
    void setWait(std::chrono::milliseconds wait) { wait_ = wait; }

signals:
    // Once per Start, from the event loop; `source` names where it came from ("SHA256SUMS").
    void finished(const std::optional<Checksum>& checksum, const QString& source);

private:
    // Asks the next source not yet in the cache; after the last, finishes with none.
    void askNext();
    void ask(const QString& url);
    // Reads the current source's body (empty: none); true when it named the file.
    bool conclude(const QByteArray& body);
    // Keeps a body (or none) for the current source and goes on.
    void take(const QByteArray& body);
    void onAnswered(int status, const QByteArray& body, const QByteArray& head);
    void onFailed(const OneShotFailure& failure);

    OneShotRequest request_;
    SumsFileCache& cache_;
    std::chrono::milliseconds wait_{15000};
    QList<SumsSource> sources_;
    qsizetype next_ = 0;
    QString fileName_;
    QString entryName_;
    QString host_;
    QString cookie_;
    QString referer_;
    QString user_;
    QString password_;
    QString redirectTo_;
    QByteArray body_;  // the current answer's, as the sink takes it
    int redirects_ = 0;
    bool running_ = false;
    std::uint64_t generation_ = 0;  // what was scheduled for an earlier request is dropped
};
