#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "core/urls/other_program_link.h"

class DownloadQueue;
struct DownloadListState;

// Hands links that belong to another program to the one the desktop has for them, as the
// desktop's own file manager would: `xdg-mime query default TYPE` names the program, and
// `xdg-open` starts it, detached. Nothing waits: the query answers through the event loop.
class LinkHandover : public QObject {
    Q_OBJECT
public:
    // Told once per link: the program's name (its .desktop file's Name=, else its id), or
    // empty when no program takes such links or it could not be started.
    using Told =
        std::function<void(const QString& link, OtherProgramLink kind, const QString& program)>;

    explicit LinkHandover(Told told, QObject* parent = nullptr);

    // A magnet link, a local .torrent file (path or file:/// URL), or a finished .torrent file.
    void handOver(const QString& link, OtherProgramLink kind);
    // Every download of a .torrent address that finishes from now on has its file handed to
    // the torrent program: the user wanted the torrent, not the small file that describes it.
    void followFinishedTorrents(DownloadQueue& queue, DownloadListState& list);

    // The name the desktop shows for the program of `desktopId` ("transmission-gtk.desktop").
    static QString ProgramName(const QString& desktopId);

private:
    void open(const QString& link, OtherProgramLink kind, const QString& desktopId);

    Told told_;
};
