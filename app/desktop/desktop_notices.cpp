#include "app/desktop/desktop_notices.h"

#include <QDBusConnection>
#include <QSystemTrayIcon>
#include <utility>

#include "core/download_list/records.h"
#include "core/settings/settings.h"
#include "engine/engine_context.h"
#include "integration/desktop/desktop_notifier.h"
#include "integration/desktop/download_end_notices.h"
#include "integration/desktop/show_in_folder.h"
#include "ui/download_window/download_windows.h"
#include "ui/main_window/finished_pane.h"

DesktopNotices::DesktopNotices(const Parts& parts, QObject* parent) : QObject(parent) {
    EngineContext& ctx = parts.ctx;
    const auto showInFolder = [this, &ctx](const QString& path) {
        ShowInFolder(QDBusConnection::sessionBus(), path, ctx.openUrl, this);
    };
    DesktopNotifier::Hooks hooks;
    hooks.enabled = [&ctx] { return ctx.settings.Notifications == FlagTrue; };
    // Where no tray shows the tip, the notification is the one place that says it.
    hooks.trayTip = [tip = parts.trayTip] {
        return QSystemTrayIcon::isSystemTrayAvailable() ? QString() : tip();
    };
    hooks.open = ctx.openUrl;
    hooks.showInFolder = showInFolder;
    notifier_ = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus(), ctx.texts,
                                                  std::move(hooks));
    ends_ = std::make_unique<DownloadEndNotices>(
        ctx, parts.queue, parts.checks,
        [notifier = notifier_.get()](const DownloadEnd& end) { notifier->tell(end); });
    parts.windows.setShowInFolder(showInFolder);
    parts.finished.setShowInFolder(showInFolder);
}

DesktopNotices::~DesktopNotices() = default;
