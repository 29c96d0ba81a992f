#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "engine/queue/session_windows.h"

class Kestor2;
class TextTable;
struct DownloadListState;

// The download windows of the desktop program: one per running session, by slot. A window whose
// download finished outlives its session, for the buttons that open the file and its folder,
// until the user closes it.
class DownloadWindows : public SessionWindows {
public:
    using OpenUrl = std::function<void(const QString&)>;

    DownloadWindows(DownloadListState& list, const TextTable& texts, OpenUrl openUrl);
    DownloadWindows(const DownloadWindows&) = delete;
    DownloadWindows& operator=(const DownloadWindows&) = delete;
    ~DownloadWindows() override;

    SessionObserver* openView(int slot, DownloadSession& session) override;
    // Shows the slot's window and brings it to the front.
    void showView(int slot) override;
    // Closes the slot's window, or leaves a finished one open without its session.
    void closeView(int slot) override;

    // Every window still open, finished ones included, e.g. to apply a new language.
    QList<QWidget*> openWindows() const;
    // The window of the slot's session, or nullptr.
    Kestor2* window(int slot) const;
    // Opens a ".zip" download's listing, from its button or after its probe; false when it
    // cannot be listed.
    void setZipPreview(std::function<bool(int slot)> preview) { zipPreview_ = std::move(preview); }
    // The finished windows' "Show in folder".
    void setShowInFolder(OpenUrl show) { showInFolder_ = std::move(show); }
    // Told when a window's file was built.
    void setFileBuilt(std::function<void(int slot, const QString& savePath)> built) {
        fileBuilt_ = std::move(built);
    }

    // Told when a window's "Change address..." is clicked.
    void setChangeAddress(std::function<void(int slot)> change) {
        changeAddress_ = std::move(change);
    }

private:
    // Windows are deleted from the event loop: closing one may be asked from its own button.
    struct DeleteLater {
        void operator()(Kestor2* window) const;
    };
    using Owned = std::unique_ptr<Kestor2, DeleteLater>;

    void retire(Owned window);
    void place(Kestor2& window) const;

    DownloadListState& list_;
    const TextTable& texts_;
    OpenUrl openUrl_;
    OpenUrl showInFolder_;
    std::function<bool(int)> zipPreview_;
    std::function<void(int, const QString&)> fileBuilt_;
    std::function<void(int)> changeAddress_;
    std::map<int, Owned> views_;
    std::vector<Owned> finished_;
    // Handed to the event loop for deletion; deleted here if the loop never gets to them.
    std::vector<QPointer<Kestor2>> retiring_;
};
