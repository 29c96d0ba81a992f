#include "integration/system/stay_awake.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <utility>

#include "core/diagnostics/log_categories.h"
#include "engine/queue/download_queue.h"

StayAwake::StayAwake(DownloadQueue& queue, std::function<bool()> enabled, QString why,
                     QObject* parent)
    : QObject(parent), queue_(queue), enabled_(std::move(enabled)), why_(std::move(why)) {
    soon_.setSingleShot(true);
    soon_.setInterval(0);
    connect(&soon_, &QTimer::timeout, this, &StayAwake::apply);
    // Started once, not pushed back: a steady flow of reports must not keep it from firing.
    const auto later = [this] {
        if (!soon_.isActive()) {
            soon_.start();
        }
    };
    // A pause or a failure may show only as the entry's change; starts and ends as the list's.
    connect(&queue_, &DownloadQueue::listChanged, this, later);
    connect(&queue_, &DownloadQueue::entryChanged, this, later);
}

StayAwake::~StayAwake() = default;

void StayAwake::apply() {
    const bool wanted = enabled_() && queue_.runningCount() > 0;
    if (wanted == wanted_) {
        return;
    }
    wanted_ = wanted;
    if (!wanted_) {
        // Closing the descriptor is what tells logind; an answer still to come is dropped.
        held_ = QDBusUnixFileDescriptor();
        refused_ = false;
        qCInfo(lcQueue) << "sleep allowed again";
        return;
    }
    if (!holding() && asking_ == nullptr && !refused_) {
        ask();
    }
}

void StayAwake::ask() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        refused_ = true;
        if (!std::exchange(logged_, true)) {
            qCInfo(lcQueue) << "no system bus: suspend is not held off while downloading:"
                            << bus.lastError().message();
        }
        return;
    }
    QDBusMessage inhibit = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep") << QStringLiteral("Brenloft") << why_
            << QStringLiteral("block");
    asking_ = new QDBusPendingCallWatcher(bus.asyncCall(inhibit), this);
    connect(asking_, &QDBusPendingCallWatcher::finished, this, &StayAwake::answered);
}

void StayAwake::answered(QDBusPendingCallWatcher* call) {
    asking_ = nullptr;
    QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    call->deleteLater();
    if (reply.isError()) {
        refused_ = wanted_;
        if (!std::exchange(logged_, true)) {
            qCInfo(lcQueue) << "logind does not hold off suspend while downloading:"
                            << reply.error().name() << reply.error().message();
        }
        return;
    }
    if (wanted_) {
        held_ = reply.value();
        qCInfo(lcQueue) << "suspend held off while downloads run";
    }
    // Otherwise the last download ended meanwhile: the descriptor closes with the reply.
}
