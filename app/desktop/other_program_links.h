#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "integration/system/link_handover.h"

class DownloadQueue;
struct EngineContext;

// Magnet links and .torrent files, wherever they come in (adding, the clipboard, the session
// bus, the command line), go to the desktop's torrent program; a finished .torrent download
// follows. The user hears where it went on the status line, or in a message that no program
// takes it.
std::unique_ptr<LinkHandover> HandLinksToOtherPrograms(EngineContext& ctx, DownloadQueue& queue,
                                                       std::function<void(const QString&)> status,
                                                       std::function<void(const QString&)> warn);
