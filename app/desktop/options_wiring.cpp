#include "app/desktop/options_wiring.h"

#include "core/diagnostics/log_categories.h"
#include "core/download_list/records.h"
#include "core/settings/settings.h"
#include "engine/queue/download_queue.h"
#include "net/socket_module.h"
#include "rpc/remote_control.h"
#include "ui/language/apply_language.h"
#include "ui/language/qt_translation.h"
#include "ui/options/options_window.h"

OptionsWiring::OptionsWiring(Parts parts, BrowserIntegration::Setup browsers,
                             AutoStartEntry autoStart, QObject* parent)
    : QObject(parent),
      parts_(std::move(parts)),
      browsers_(std::move(browsers)),
      autoStart_(std::move(autoStart)) {}

OptionsWiring::~OptionsWiring() {
    delete retiring_.data();
}

void OptionsWiring::addWindows(WindowList windows) {
    windowLists_.append(std::move(windows));
}

Options* OptionsWiring::window() const {
    return window_.get();
}

void OptionsWiring::open() {
    if (!window_) {
        window_ = std::make_unique<Options>(Options::Context{
            parts_.settings, parts_.store, parts_.texts, parts_.languageFolders,
            parts_.applicationFolder, browsers_, autoStart_, parts_.hostLimits, NewRpcSecret});
        connect(window_.get(), &Options::applied, this, &OptionsWiring::applyAtOnce);
        // Closed either way, it is made anew next time, filled from the settings then.
        connect(window_.get(), &QDialog::finished, this, [this] {
            delete retiring_.data();
            retiring_ = window_.release();
            retiring_->deleteLater();
        });
        window_->RefreshFromOptions();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void OptionsWiring::applyAtOnce() {
    const Settings& s = parts_.settings;
    const bool limited = s.UseSpeedLimiter == FlagTrue;
    parts_.sockets.setLimits({limited, s.SpeedLimiter});
    if (limited) {
        // Downloads already under way keep their connections: their reads join the limit too.
        for (int i = 1; i <= parts_.sockets.count(); ++i) {
            if (SocketEntry* e = parts_.sockets.entry(i); e != nullptr && e->InUse != 0) {
                e->RateLimited = 1;
            }
        }
    }
    qCInfo(lcUi) << "options applied: limit" << (limited ? s.SpeedLimiter : 0) << "B/s,"
                 << s.MaxSimulDownlads << "at once, language" << s.Language;
    // One more may start now rather than a tick later; the rest follow tick by tick.
    parts_.queue.StartNextQueued();

    QList<QWidget*> windows;
    for (const WindowList& list : windowLists_) {
        for (QWidget* window : list()) {
            if (window != nullptr && !windows.contains(window)) {
                windows << window;
            }
        }
    }
    parts_.qtTexts.use(parts_.texts);
    ReapplyLanguage(windows, parts_.texts);
    emit applied();
}
