#include "integration/desktop/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <algorithm>
#include <utility>

#include "core/text/text_table.h"

namespace {

const QString kService = QLatin1String(DesktopNotifier::ServiceName);
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kOpen = QStringLiteral("open");
const QString kShow = QStringLiteral("show");
// A server that does not answer this soon is treated as none.
constexpr int kCallTimeoutMs = 5000;

QDBusMessage Call(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    message.setArguments(arguments);
    // A server that is not running stays so: no notifications is what the user chose by it.
    message.setAutoStartService(false);
    return message;
}

bool AllFinished(const std::vector<DownloadEnd>& ends) {
    return std::all_of(ends.begin(), ends.end(),
                       [](const DownloadEnd& e) { return e.kind == DownloadEnd::Kind::Finished; });
}

}  // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, const TextTable& texts, Hooks hooks,
                                 QObject* parent)
    : QObject(parent), bus_(bus), texts_(texts), hooks_(std::move(hooks)) {
    window_.setSingleShot(true);
    window_.setInterval(GroupWindowMs);
    connect(&window_, &QTimer::timeout, this, &DesktopNotifier::flush);
    bus_.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::tell(const DownloadEnd& end) {
    if (hooks_.enabled && !hooks_.enabled()) {
        return;
    }
    pending_.push_back(end);
    if (!window_.isActive() && !asking_) {
        window_.start();
    }
}

void DesktopNotifier::flush() {
    if (pending_.empty() || !bus_.isConnected()) {
        pending_.clear();
        return;
    }
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(Call(QStringLiteral("GetCapabilities"), {}), kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        asking_ = false;
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError()) {
            pending_.clear();
            return;
        }
        send(reply.value());
    });
}

void DesktopNotifier::send(const QStringList& capabilities) {
    if (shownId_ == 0) {
        shown_.clear();
    }
    shown_.insert(shown_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    EndsNotice notice =
        DescribeEnds(shown_, texts_, capabilities.contains(QLatin1String("body-markup")));
    if (const QString tip = hooks_.trayTip ? hooks_.trayTip() : QString(); !tip.isEmpty()) {
        notice.body += u'\n' + tip;
    }
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("brenloft")},
        {QStringLiteral("category"), AllFinished(shown_) ? QStringLiteral("transfer.complete")
                                                         : QStringLiteral("transfer.error")}};
    const QDBusMessage message =
        Call(QStringLiteral("Notify"),
             {QStringLiteral("Brenloft"), shownId_, QStringLiteral("brenloft"), notice.summary,
              notice.body, actionsFor(capabilities), hints, -1});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        shownId_ = reply.isError() ? 0 : reply.value();
    });
}

QStringList DesktopNotifier::actionsFor(const QStringList& capabilities) const {
    if (shown_.size() != 1 || shown_.front().kind != DownloadEnd::Kind::Finished ||
        !capabilities.contains(QLatin1String("actions"))) {
        return {};
    }
    return {kOpen, texts_.text(1468), kShow, texts_.text(1469)};
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    if (id == 0 || id != shownId_ || shown_.size() != 1) {
        return;
    }
    const QString path = shown_.front().path;
    if (action == kOpen && hooks_.open) {
        hooks_.open(path);
    } else if (action == kShow && hooks_.showInFolder) {
        hooks_.showInFolder(path);
    }
}

void DesktopNotifier::notificationClosed(uint id, uint /*reason*/) {
    if (id != 0 && id == shownId_) {
        shownId_ = 0;
        shown_.clear();
    }
}
