#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <memory>

#include "archive/unzip_archive.h"
#include "archive/zip_directory.h"

class Form2;
class QWidget;
class TextTable;
class VelmoraSockets;
class ProxyResolver;
class ZipMemberFetch;
struct DownloadListState;
struct Settings;

// The remote ZIP previews of the desktop program, one per download slot, and what their
// extraction buttons start: unpacking a finished archive, fetching chosen members alone from the
// server, or unpacking the whole archive once the segments have fetched it.
class ZipPreviews : public QObject {
public:
    // What the previews need of the downloads around them.
    struct Hooks {
        // "Download classic": the download waiting after its probe goes on.
        std::function<void(int slot)> continueDownload;
        // The preview closed otherwise: a download still waiting in it is paused.
        std::function<void(int slot)> pauseWaiting;
        // An outcome or failure for the user; `warning` for failures.
        std::function<void(const QString& text, bool warning)> tell;
        // The folder the Extract window starts in.
        std::function<QString()> defaultFolder;
        // Where the previews' requests take their proxy route; empty or none: the settings'.
        std::function<ProxyResolver*()> proxyResolver;
    };

    ZipPreviews(VelmoraSockets& sockets, const Settings& settings, const TextTable& texts,
                DownloadListState& list, Hooks hooks);
    ~ZipPreviews() override;

    // Opens the slot's preview, or brings an open one to the front. False when the download
    // cannot be previewed (not an HTTP(S) ZIP archive from a server that honours ranges).
    bool open(int slot);
    Form2* window(int slot) const;
    // Every preview open now, e.g. to apply a new language.
    QList<QWidget*> openWindows() const;
    // A download finished: an "Extract ALL" waiting for it unpacks the archive now.
    void downloadFinished(int slot, const QString& savePath);

private:
    struct Extraction;

    void extract(int slot, const QList<ZipEntry>& members, const QString& folder);
    void unpack(int slot, const QString& archive, const QList<ZipEntry>& members,
                const QString& folder);
    void fetch(int slot, const QList<ZipEntry>& members, const QString& folder);
    void dropFetch(int slot);
    // Tells how an extraction ended, in the preview's status line and a message.
    void report(int slot, const UnzipResult& result, const QString& folder);
    ProxyResolver* proxyResolver() const;

    VelmoraSockets& sockets_;
    const Settings& settings_;
    const TextTable& texts_;
    DownloadListState& list_;
    Hooks hooks_;
    std::map<int, QPointer<Form2>> windows_;
    // "Extract ALL" before the archive was fetched: where it goes once it is, by slot.
    std::map<int, QString> pendingFolders_;
    std::map<int, std::unique_ptr<Extraction>> fetches_;
};
