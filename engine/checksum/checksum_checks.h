#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>

#include "engine/checksum/checksum_lookup.h"

class DownloadQueue;
struct EngineContext;
class FileHasher;
struct FileDigests;

// Checks every download's file against its checksum, for whichever front end runs the queue:
// once a download has planned its segments, the server is searched for a checksum (unless one
// was given, or found in the probe's headers, or the "ChecksumLookups" option is off); once its
// file is built, the file is hashed where it lies and the result kept in the entry's
// ChecksumNote. The list is saved soon after each result.
//
// One file is hashed at a time; others wait their turn. A file with no checksum given or found
// is not hashed (its note says NoneFound), unless HashSha256 asks for it.
class ChecksumChecks : public QObject {
    Q_OBJECT
public:
    // Files at least this large report their progress (brenloft-get's line, the status).
    static constexpr std::int64_t ProgressFromBytes = 64 * 1024 * 1024;

    ChecksumChecks(EngineContext& ctx, DownloadQueue& queue, QObject* parent = nullptr);
    ~ChecksumChecks() override;

    // Puts the result of the slot's check in hand now: looks up (when still to do) and hashes
    // a finished entry whose note is Unchecked. The queue's signals call it; a front end calls
    // it for an entry it finished itself (a forced build is never checked: it is not whole).
    void Check(int slot);
    // Checks again the finished entries whose check a quit cut short (a checksum known, no
    // result): the desktop program at its start.
    void ResumeChecks();
    // Hashes a finished entry's file for its SHA-256 alone (the "Copy SHA-256" of a file that
    // had no checksum); `checked` follows with the note's sha256 set.
    void HashSha256(int slot);
    // Lookups and hashes waiting or running: brenloft-get waits for none before it ends.
    bool busy() const;
    // Drops everything waiting for a slot that leaves the list or starts again.
    void Forget(int slot);

    // Tests wait less for the server.
    void setLookupWait(std::chrono::milliseconds wait) { lookupWait_ = wait; }

signals:
    // Hashing the slot's file, `done` of `total` bytes (only for ProgressFromBytes and above).
    void hashing(int slot, std::int64_t done, std::int64_t total);
    // The slot's note has a result (or a new sha256).
    void checked(int slot);

private:
    struct Job;
    void onSegmentsPlanned(int slot);
    void onSessionEnded(int slot);
    void startLookup(int slot);
    // Starts the next hash waiting whose lookup is over; a check with no checksum ends here.
    void pump();
    void startHash(int slot, bool sha256Only);
    void onHashed(const FileDigests& digests);
    void saveSoon();

    EngineContext& ctx_;
    DownloadQueue& queue_;
    SumsFileCache sums_;
    std::chrono::milliseconds lookupWait_{15000};
    std::map<int, std::unique_ptr<ChecksumLookup>> lookups_;
    std::map<int, bool> waiting_;  // slot -> hash for SHA-256 alone; in slot order
    int hashingSlot_ = 0;
    bool hashingSha256Only_ = false;
    QString hashingUrl_;  // a slot that meanwhile holds another entry keeps no result
    std::unique_ptr<FileHasher> hasher_;
};
