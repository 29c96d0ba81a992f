#include "ui/zip_preview/preview_wiring.h"

#include "engine/session/download_session.h"
#include "ui/download_window/download_window.h"
#include "ui/download_window/download_windows.h"

std::unique_ptr<ZipPreviews> WireZipPreviews(DownloadWindows& windows, VelmoraSockets& sockets,
                                             const Settings& settings, const TextTable& texts,
                                             DownloadListState& list, ZipPreviews::Hooks hooks) {
    const auto session = [&windows](int slot) -> DownloadSession* {
        const Kestor2* window = windows.window(slot);
        return window != nullptr ? window->session() : nullptr;
    };
    hooks.continueDownload = [session](int slot) {
        if (DownloadSession* s = session(slot)) {
            s->ContinueAfterPreview();
        }
    };
    hooks.pauseWaiting = [session](int slot) {
        if (DownloadSession* s = session(slot); s != nullptr && s->waitingForPreview()) {
            s->PauseDownload();
        }
    };
    auto previews = std::make_unique<ZipPreviews>(sockets, settings, texts, list, std::move(hooks));
    ZipPreviews* open = previews.get();
    windows.setZipPreview([open](int slot) { return open->open(slot); });
    windows.setFileBuilt(
        [open](int slot, const QString& savePath) { open->downloadFinished(slot, savePath); });
    return previews;
}
