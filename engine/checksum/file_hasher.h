#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/checksums/checksum.h"

// What hashing a file gave: each digest asked for, or why it could not be read.
struct FileDigests {
    std::map<DigestKind, QString> hex;  // lower case
    QString error;                      // empty on success
    std::int64_t bytes = 0;             // read
};

// Reads a file once, feeding every digest asked for, a piece at a time with returns to the
// event loop in between, so downloads and windows keep running while a large file is hashed.
class FileHasher : public QObject {
    Q_OBJECT
public:
    // Bytes read per turn of the event loop.
    static constexpr std::int64_t PieceBytes = 4 * 1024 * 1024;

    explicit FileHasher(QObject* parent = nullptr);
    ~FileHasher() override;

    // A run still going is dropped first.
    void Start(const QString& path, std::vector<DigestKind> kinds);
    // Stops a run; no signal follows.
    void Abort();
    bool running() const;

signals:
    // At most a few times a second, and once at the end.
    void progress(std::int64_t done, std::int64_t total);
    // Once per Start, from the event loop.
    void finished(const FileDigests& digests);

private:
    struct Run;
    void step();

    std::unique_ptr<Run> run_;
    QTimer next_;
};
