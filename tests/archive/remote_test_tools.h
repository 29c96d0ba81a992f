#pragma once

// What the remote archive tests share: an engine's sockets and settings that trust the test
// CA, an archive named as its download record names it, and the reads driven to their end.

#include <QList>
#include <QString>
#include <chrono>
#include <optional>
#include <ostream>

#include "archive/remote/remote_archive.h"
#include "archive/remote/zip_range_request.h"
#include "archive/unzip_archive.h"
#include "archive/zip_directory.h"
#include "tests/support/engine_rig.h"
#include "tests/support/test_certificates.h"

// Made once for the binary: openssl takes a while.
const Certificates& TestCertificates();

struct RemoteRig {
    RemoteRig();
    // Every connection goes through the HTTP proxy on this loopback port.
    void useProxy(int port);

    EngineRig engine;
};

// The archive at `url` (http:// or https://) of `size` bytes, as the download's record has it.
RemoteArchive ArchiveAt(const QString& url, qint64 size);

struct PreviewOutcome {
    bool listed = false;
    std::optional<RemoteArchiveFailure> failure;
    QList<int> phases;  // phaseChanged, in order
    int readPhase = 0;  // when it ended
    bool readDone = false;
    qint64 entryCount = 0;
    qint64 directorySize = 0;
    ZipDirectoryLocation location;
    QList<ZipEntry> entries;
};

// Reads the directory; fails the test when neither `listed` nor `failed` comes in time, or
// when both, or either twice, come.
PreviewOutcome RunPreview(RemoteRig& rig, const RemoteArchive& archive,
                          std::chrono::milliseconds noAnswer = ZipRangeRequest::kNoAnswerWait);

struct FetchOutcome {
    std::optional<UnzipResult> result;
    std::optional<RemoteArchiveFailure> failure;
    qint64 done = 0;  // the last progress
    qint64 total = 0;
};

FetchOutcome RunFetch(RemoteRig& rig, UnzipPrompts& prompts, const RemoteArchive& archive,
                      const QList<ZipEntry>& members, const QString& target,
                      bool recreateFolders = true, bool overwriteExisting = false,
                      std::chrono::milliseconds noAnswer = ZipRangeRequest::kNoAnswerWait);

const char* ReasonName(RemoteArchiveFailure::Reason reason);
std::ostream& operator<<(std::ostream& out, const RemoteArchiveFailure& failure);

// Every field the directory gives, compared one by one.
void ExpectSameEntries(const QList<ZipEntry>& got, const QList<ZipEntry>& want);
