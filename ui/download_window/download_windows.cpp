#include "ui/download_window/download_windows.h"

#include <QScreen>
#include <algorithm>

#include "ui/download_window/download_window.h"
#include "ui/download_window/window_placement.h"

void DownloadWindows::DeleteLater::operator()(Kestor2* window) const {
    window->hide();
    window->deleteLater();
}

DownloadWindows::DownloadWindows(DownloadListState& list, const TextTable& texts, OpenUrl openUrl)
    : list_(list), texts_(texts), openUrl_(std::move(openUrl)) {}

DownloadWindows::~DownloadWindows() {
    for (auto& [slot, window] : views_) {
        delete window.release();
    }
    for (Owned& window : finished_) {
        delete window.release();
    }
    for (const QPointer<Kestor2>& window : retiring_) {
        delete window.data();
    }
}

SessionObserver* DownloadWindows::openView(int slot, DownloadSession& session) {
    closeView(slot);
    // Trying again: the window that told why the last try stopped gives way to the new one.
    for (auto it = finished_.begin(); it != finished_.end();) {
        if ((*it)->failed() && (*it)->slot() == slot) {
            Owned stale = std::move(*it);
            it = finished_.erase(it);
            retire(std::move(stale));
        } else {
            ++it;
        }
    }
    Owned window(new Kestor2(session, slot, list_, texts_, openUrl_));
    window->setZipPreview([this](int slot) { return zipPreview_ && zipPreview_(slot); });
    window->setShowInFolder(showInFolder_);
    QObject::connect(window.get(), &Kestor2::fileBuilt, window.get(),
                     [this](int slot, const QString& savePath) {
                         if (fileBuilt_) {
                             fileBuilt_(slot, savePath);
                         }
                     });
    QObject::connect(window.get(), &Kestor2::changeAddressRequested, window.get(),
                     [this](int slot) {
                         if (changeAddress_) {
                             changeAddress_(slot);
                         }
                     });
    Kestor2* view = window.get();
    views_[slot] = std::move(window);
    return view;
}

// A window's first place is beside the others already open, inside the available area of
// the screen, so that none opens under a panel or on top of another; later the user's.
void DownloadWindows::place(Kestor2& w) const {
    if (w.property("placed").toBool()) {
        return;
    }
    w.setProperty("placed", true);
    int shown = 0;
    for (const QWidget* other : openWindows()) {
        shown += other != &w && other->isVisible() ? 1 : 0;
    }
    const QScreen* screen = w.screen();
    if (screen == nullptr) {
        return;
    }
    w.adjustSize();
    // The frame's size where the window manager tells it; the client size before the first show.
    const QSize size = w.frameGeometry().size().expandedTo(w.size());
    w.move(DownloadWindowPosition(shown, size, screen->availableGeometry()));
}

void DownloadWindows::showView(int slot) {
    if (Kestor2* w = window(slot)) {
        place(*w);
        if (w->isMinimized()) {
            w->showNormal();
        } else {
            w->show();
        }
        w->raise();
        w->activateWindow();
    }
}

void DownloadWindows::closeView(int slot) {
    const auto it = views_.find(slot);
    if (it == views_.end()) {
        return;
    }
    Owned window = std::move(it->second);
    views_.erase(it);
    // A window stays for its finished file, or to tell why its download stopped.
    if (!window->finished() && !window->failed()) {
        retire(std::move(window));
        return;
    }
    window->detachSession();
    Kestor2* kept = window.get();
    QObject::connect(kept, &Kestor2::dismissed, kept, [this, kept] {
        const auto found = std::find_if(finished_.begin(), finished_.end(),
                                        [kept](const Owned& w) { return w.get() == kept; });
        if (found != finished_.end()) {
            Owned closing = std::move(*found);
            finished_.erase(found);
            retire(std::move(closing));
        }
    });
    // A window the user never saw has nothing to offer.
    if (!kept->isVisible()) {
        retire(std::move(window));
        return;
    }
    finished_.push_back(std::move(window));
}

void DownloadWindows::retire(Owned window) {
    std::erase_if(retiring_, [](const QPointer<Kestor2>& w) { return w.isNull(); });
    retiring_.emplace_back(window.get());
    window.reset();
}

QList<QWidget*> DownloadWindows::openWindows() const {
    QList<QWidget*> windows;
    for (const auto& [slot, window] : views_) {
        windows << window.get();
    }
    for (const Owned& window : finished_) {
        windows << window.get();
    }
    return windows;
}

Kestor2* DownloadWindows::window(int slot) const {
    const auto it = views_.find(slot);
    return it != views_.end() ? it->second.get() : nullptr;
}
