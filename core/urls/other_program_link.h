#pragma once

#include <QString>
#include <cstdint>

// Addresses that are not downloads of ours but links for another program of the desktop: a
// torrent program takes magnet links and .torrent files.
enum class OtherProgramLink : std::uint8_t {
    None,            // a download of ours, or nothing usable at all
    Magnet,          // "magnet:?..." in any letter case, URI characters only
    TorrentAddress,  // an http://, https:// or ftp:// address whose path ends in ".torrent"
    TorrentFile,     // a local file ending in ".torrent": an absolute path or a file:/// URL
};

// What `text` (trimmed by the caller) is. Pure: nothing is looked up on the disk or the network.
OtherProgramLink LinkForOtherProgram(const QString& text);

// The MIME type whose program the desktop hands such a link to ("x-scheme-handler/magnet",
// "application/x-bittorrent"), or empty for None.
QString HandlerTypeOf(OtherProgramLink link);

// Whether `text` (trimmed) is handed over as it is, instead of being downloaded first: a
// magnet link or a local .torrent file. A .torrent address is downloaded as usual; only its
// file goes.
bool HandedOverAsGiven(const QString& text);
