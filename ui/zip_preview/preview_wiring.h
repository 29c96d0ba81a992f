#pragma once

#include <memory>

#include "ui/zip_preview/zip_previews.h"

class DownloadWindows;

// The previews wired to the download windows as the desktop program has them: a window's
// button and a probe's "AutoPreviewZIP" open the slot's preview, "Download classic" and closing
// reach the slot's session, a built file unpacks a waiting "Extract ALL". `hooks` brings `tell`
// and `defaultFolder`; the session hooks are filled here.
std::unique_ptr<ZipPreviews> WireZipPreviews(DownloadWindows& windows, VelmoraSockets& sockets,
                                             const Settings& settings, const TextTable& texts,
                                             DownloadListState& list, ZipPreviews::Hooks hooks);
