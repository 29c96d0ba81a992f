#include "rpc/remote_control.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTimer>

#include "core/download_list/download_list.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"
#include "rpc/aria2_dispatch.h"
#include "rpc/entry_status.h"
#include "rpc/rpc_server.h"

namespace {

// aria2's notification for an entry that now shows `status`, or empty ("waiting" has none).
QString NotificationFor(const QString& status) {
    if (status == QLatin1String("active")) {
        return QStringLiteral("aria2.onDownloadStart");
    }
    if (status == QLatin1String("paused")) {
        return QStringLiteral("aria2.onDownloadPause");
    }
    if (status == QLatin1String("removed")) {
        return QStringLiteral("aria2.onDownloadStop");
    }
    if (status == QLatin1String("complete")) {
        return QStringLiteral("aria2.onDownloadComplete");
    }
    if (status == QLatin1String("error")) {
        return QStringLiteral("aria2.onDownloadError");
    }
    return {};
}

// The answer to shutdown must leave before the program ends.
constexpr int ShutdownDelayMs = 200;

}  // namespace

RemoteControl::RemoteControl(EngineContext& context, DownloadQueue& queue,
                             RemoteControlOptions options, QObject* parent)
    : QObject(parent),
      ctx_(context),
      queue_(queue),
      options_(std::move(options)),
      dispatch_(std::make_unique<Aria2Dispatch>(context, queue, options_.secret)),
      server_(std::make_unique<RpcServer>(*dispatch_, options_.transport)) {
    dispatch_->saveRoot = options_.saveRoot;
    dispatch_->settingsChanged = [this] { emit settingsChanged(); };
    dispatch_->shutdown = [this](bool force) {
        QTimer::singleShot(ShutdownDelayMs, this, [this, force] { emit shutdownRequested(force); });
    };
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        seen_[slot] = StateOf(ctx_.list.DownloadList.at(slot));
    }
    connect(&queue_, &DownloadQueue::listChanged, this, &RemoteControl::watchEntries);
    connect(&queue_, &DownloadQueue::sessionEnded, this, &RemoteControl::watchEntries);
    connect(&queue_, &DownloadQueue::entryChanged, this, [this](int slot) {
        if (slot >= 1 && slot <= UsedSlots(ctx_.list) &&
            seen_[slot] != StateOf(ctx_.list.DownloadList.at(slot))) {
            watchEntries();
        }
    });
}

RemoteControl::~RemoteControl() = default;

QString RemoteControl::start() {
    return server_->listen();
}

quint16 RemoteControl::port() const {
    return server_->port();
}

bool RemoteControl::secure() const {
    return server_->secure();
}

void RemoteControl::watchEntries() {
    const int used = UsedSlots(ctx_.list);
    std::vector<std::pair<QString, int>> told;
    for (int slot = 1; slot <= used; ++slot) {
        const ListEntryState now = StateOf(ctx_.list.DownloadList.at(slot));
        const auto [place, added] = seen_.try_emplace(slot, now);
        const ListEntryState before = std::exchange(place->second, now);
        const QString status = Aria2Status(now);
        if (Aria2Status(before) != status && !(added && now == ListEntryState::Free)) {
            if (QString method = NotificationFor(status); !method.isEmpty()) {
                told.emplace_back(std::move(method), slot);
            }
        }
    }
    seen_.erase(seen_.upper_bound(used), seen_.end());
    for (const auto& [method, slot] : told) {
        const QString gid = dispatch_->gidOf(slot);
        if (!gid.isEmpty()) {
            server_->notify(method, gid);
        }
    }
}

QString NewRpcSecret() {
    quint32 words[6];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(words), sizeof words)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString RemoteControlWarning(const RpcTransportOptions& options) {
    const bool tls = !options.certificateFile.isEmpty() && !options.privateKeyFile.isEmpty();
    if (!options.listenAll || tls) {
        return {};
    }
    return QStringLiteral(
        "the remote control listens on every address without TLS: its secret and everything "
        "it sends can be read by anyone on the network between; give it a certificate and a "
        "private key");
}
