#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

#include "archive/remote/remote_archive.h"
#include "archive/unzip_archive.h"
#include "archive/zip_directory.h"

class VelmoraSockets;
struct Settings;
class UnzipPrompts;

// Fetches chosen members of a remote archive alone, one after another, without the rest of the
// archive: each member's local header, then its compressed bytes, by range requests; stored
// and deflated members are inflated as they arrive and written under a temporary name in the
// target folder, which takes the member's name only when its length and CRC-32 match the
// directory's. Names are checked as extraction checks them; nothing lands outside the folder.
// Encrypted members and other methods are skipped with a message.
class ZipMemberFetch : public QObject {
    Q_OBJECT
public:
    ZipMemberFetch(VelmoraSockets& sockets, const Settings& settings, UnzipPrompts& prompts,
                   QObject* parent = nullptr);
    ~ZipMemberFetch() override;  // aborts, removing a half-written member

    // `recreateFolders` as in UnzipOptions; an existing file is replaced only as `prompts`
    // answer (or always, with `overwriteExisting`).
    void Start(const RemoteArchive& archive, const QList<ZipEntry>& members,
               const QString& targetFolder, bool recreateFolders, bool overwriteExisting);
    void Abort();

signals:
    // Compressed bytes of all chosen members received so far, of `total`.
    void progress(qint64 done, qint64 total);
    // Every member was fetched or skipped; the result is worded like an extraction's
    // (code, messages, members written).
    void finished(const UnzipResult& result);
    // The server or the connection failed; members already written stay.
    void failed(const RemoteArchiveFailure& failure);
};
