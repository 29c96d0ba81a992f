#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>

#include "archive/remote/remote_archive.h"
#include "archive/zip_directory.h"
#include "core/settings/settings.h"

class ProxyResolver;
class VelmoraSockets;
class ZipRangeRequest;

// Reads a remote archive's table of contents with range requests, and nothing else of it: the
// tail holding the end record (ZIPReader), then the central directory (ZIP). Each answer must
// be a 206 for exactly the bytes asked; 30 s without progress ends the read. Asynchronous:
// Start returns at once, `listed` or `failed` follows from the event loop.
class ZipPreviewReader : public QObject {
    Q_OBJECT
public:
    // `resolver`: where the proxy route comes from; none: the settings' proxies.
    ZipPreviewReader(VelmoraSockets& sockets, const Settings& settings, QObject* parent = nullptr,
                     ProxyResolver* resolver = nullptr);
    ~ZipPreviewReader() override;  // aborts

    // Once per reader. The proxy settings are read here.
    void Start(const RemoteArchive& archive);
    // Closes both connections; no signal follows.
    void Abort();
    // How long a connection may stay silent (30 s); tests wait less. Before Start.
    void setNoAnswerWait(std::chrono::milliseconds wait);

    // 0 before the first request, 1 while the end record is read, 2 while the directory is.
    std::int16_t ReadPhase = 0;
    // The awaited bytes of the current phase are all here.
    bool ReadDone = false;
    QByteArray EndRecordBytes;  // the file's tail, end record and comment included
    QByteArray DirectoryBytes;
    qint64 EntryCount = 0;
    qint64 DirectorySize = 0;

    const ZipDirectoryLocation& location() const { return location_; }
    // The members, in directory order; filled when `listed` is emitted.
    const QList<ZipEntry>& entries() const { return entries_; }

signals:
    void phaseChanged(int readPhase);
    void listed();
    void failed(const RemoteArchiveFailure& failure);

private:
    void readTail(qint64 first, qint64 length);
    void tailArrived();
    void readDirectory();
    void directoryArrived();
    void fail(RemoteArchiveFailure::Reason reason, const QString& detail);
    // Reports from the event loop, unless aborted first.
    void failLater(RemoteArchiveFailure::Reason reason, const QString& detail);

    const Settings& settings_;
    Settings startSettings_;  // as they were at Start: both reads go the same way
    const std::unique_ptr<ZipRangeRequest> zipReader_;  // the tail, and what lies before it
    const std::unique_ptr<ZipRangeRequest> zip_;        // the central directory
    RemoteArchive archive_;
    int extraFetches_ = 0;
    bool started_ = false;
    bool aborted_ = false;
    ZipDirectoryLocation location_;
    QList<ZipEntry> entries_;
};
