#include "rpc/aria2_dispatch.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <iterator>
#include <optional>

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "engine/address_change/address_changes.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"
#include "rpc/entry_status.h"

namespace {

QJsonObject ErrorObject(int code, const QString& message) {
    return {{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
}

}  // namespace

Aria2Dispatch::Aria2Dispatch(EngineContext& context, DownloadQueue& queue, QString secret)
    : ctx_(context), queue_(queue), secret_(std::move(secret)) {
    // A new one for each run, as aria2 makes: clients tell a restart by it.
    quint32 seed[8];
    QRandomGenerator::system()->fillRange(seed);
    sessionId_ = QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(reinterpret_cast<const char*>(seed), sizeof seed),
                                 QCryptographicHash::Sha1)
            .toHex());
}

Aria2Dispatch::~Aria2Dispatch() = default;

const std::vector<Aria2Dispatch::MethodEntry>& Aria2Dispatch::methods() {
    static const std::vector<MethodEntry> table{
        {"aria2.addUri", &Aria2Dispatch::addUri, false},
        {"aria2.addTorrent", &Aria2Dispatch::addTorrent, false},
        {"aria2.addMetalink", &Aria2Dispatch::addMetalink, false},
        {"aria2.getPeers", &Aria2Dispatch::getPeers, false},
        {"aria2.remove", &Aria2Dispatch::remove, false},
        {"aria2.forceRemove", &Aria2Dispatch::remove, false},
        {"aria2.pause", &Aria2Dispatch::pause, false},
        {"aria2.forcePause", &Aria2Dispatch::forcePause, false},
        {"aria2.pauseAll", &Aria2Dispatch::pauseAll, false},
        {"aria2.forcePauseAll", &Aria2Dispatch::forcePauseAll, false},
        {"aria2.unpause", &Aria2Dispatch::unpause, false},
        {"aria2.unpauseAll", &Aria2Dispatch::unpauseAll, false},
        {"aria2.tellStatus", &Aria2Dispatch::tellStatus, false},
        {"aria2.getUris", &Aria2Dispatch::getUris, false},
        {"aria2.getFiles", &Aria2Dispatch::getFiles, false},
        {"aria2.getServers", &Aria2Dispatch::getServers, false},
        {"aria2.tellActive", &Aria2Dispatch::tellActive, false},
        {"aria2.tellWaiting", &Aria2Dispatch::tellWaiting, false},
        {"aria2.tellStopped", &Aria2Dispatch::tellStopped, false},
        {"aria2.purgeDownloadResult", &Aria2Dispatch::purgeDownloadResult, false},
        {"aria2.removeDownloadResult", &Aria2Dispatch::removeDownloadResult, false},
        {"aria2.getVersion", &Aria2Dispatch::getVersion, false},
        {"aria2.getSessionInfo", &Aria2Dispatch::getSessionInfo, false},
        {"aria2.getGlobalStat", &Aria2Dispatch::getGlobalStat, false},
        {"aria2.getOption", &Aria2Dispatch::getOption, false},
        {"aria2.saveSession", &Aria2Dispatch::saveSession, false},
        {"aria2.getGlobalOption", &Aria2Dispatch::getGlobalOption, false},
        {"aria2.changePosition", &Aria2Dispatch::changePosition, false},
        {"aria2.changeUri", &Aria2Dispatch::changeUri, false},
        {"aria2.changeOption", &Aria2Dispatch::changeOption, false},
        {"aria2.changeGlobalOption", &Aria2Dispatch::changeGlobalOption, false},
        {"aria2.shutdown", &Aria2Dispatch::shutdownGently, false},
        {"aria2.forceShutdown", &Aria2Dispatch::shutdownNow, false},
        {"brenloft.getChecksum", &Aria2Dispatch::checksumOf, false},
        {"brenloft.getZipContents", nullptr, false, &Aria2Dispatch::zipContents},
        {"brenloft.changeAddress", nullptr, false, &Aria2Dispatch::changeAddress},
        {"system.multicall", &Aria2Dispatch::multicall, true},
        {"system.listMethods", &Aria2Dispatch::listMethods, true},
        {"system.listNotifications", &Aria2Dispatch::listNotifications, true},
    };
    return table;
}

QStringList Aria2Dispatch::methodNames() {
    QStringList names;
    for (const MethodEntry& entry : methods()) {
        names << QLatin1String(entry.name);
    }
    return names;
}

void Aria2Dispatch::handle(const QJsonObject& request, Reply reply) {
    QJsonObject answer{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                       {QStringLiteral("id"), request.value(QStringLiteral("id"))}};
    if (answer.value(QStringLiteral("id")).isUndefined()) {
        answer.insert(QStringLiteral("id"), QJsonValue::Null);
    }
    // A notification is carried out all the same; nobody waits for its answer.
    const bool notification = !request.contains(QStringLiteral("id"));
    Answer finish = [answer, notification,
                     reply = std::move(reply)](const Outcome& outcome) mutable {
        if (const auto* failure = std::get_if<RpcFailure>(&outcome)) {
            answer.insert(QStringLiteral("error"), ErrorObject(failure->code, failure->message));
        } else {
            answer.insert(QStringLiteral("result"), std::get<QJsonValue>(outcome));
        }
        reply(notification ? QJsonObject{} : answer);
    };
    const QJsonValue method = request.value(QStringLiteral("method"));
    const QJsonValue params = request.value(QStringLiteral("params"));
    if (!method.isString()) {
        finish(RpcFailure{RpcInvalidRequestCode, QStringLiteral("Invalid Request.")});
    } else if (!params.isUndefined() && !params.isArray()) {
        finish(RpcFailure{RpcInvalidParamsCode, QStringLiteral("Invalid params.")});
    } else {
        call(method.toString(), params.toArray(), std::move(finish));
    }
}

void Aria2Dispatch::call(const QString& name, QJsonArray params, Answer answer) {
    try {
        const auto& table = methods();
        const auto entry = std::find_if(table.begin(), table.end(), [&](const MethodEntry& e) {
            return name == QLatin1String(e.name);
        });
        if (entry == table.end()) {
            throw RpcFailure{1, QStringLiteral("No such method: %1").arg(name)};
        }
        if (!entry->open && !TakeToken(params, secret_)) {
            throw RpcFailure{RpcUnauthorizedCode, RpcUnauthorizedMessage};
        }
        if (entry->later != nullptr) {
            // It answers once its server has; a failure before it asked is thrown here.
            (this->*entry->later)(RpcParams(params), answer);
            return;
        }
        answer((this->*entry->method)(RpcParams(params)));
    } catch (const RpcFailure& failure) {
        answer(failure);
    }
}

QJsonValue Aria2Dispatch::callNow(const QString& name, const QJsonArray& params) {
    std::optional<Outcome> outcome;
    call(name, params, [&outcome](const Outcome& o) { outcome = o; });
    if (!outcome) {
        // Its answer would come after the multicall's.
        throw RpcFailure{1, QStringLiteral("%1 cannot be called in system.multicall.").arg(name)};
    }
    if (const auto* failure = std::get_if<RpcFailure>(&*outcome)) {
        throw *failure;
    }
    return std::get<QJsonValue>(*outcome);
}

GidTable Aria2Dispatch::gids() const {
    return GidTable(ctx_.list, [this](int slot) {
        return StateOf(ctx_.list.DownloadList.at(slot)) != ListEntryState::Removed ||
               removed_.contains(slot);
    });
}

int Aria2Dispatch::slotAt(const RpcParams& params, int i, QString* gid) const {
    const GidTable table = gids();
    const int slot = table.find(params.text(i));
    if (gid != nullptr) {
        *gid = table.gidOf(slot);
    }
    return slot;
}

std::vector<int> Aria2Dispatch::slotsIn(std::initializer_list<ListEntryState> states) const {
    std::vector<int> found;
    for (int slot = 1; slot <= UsedSlots(ctx_.list); ++slot) {
        const ListEntryState state = StateOf(ctx_.list.DownloadList.at(slot));
        if (std::find(states.begin(), states.end(), state) != states.end() &&
            (state != ListEntryState::Removed || removed_.contains(slot))) {
            found.push_back(slot);
        }
    }
    return found;
}

QJsonObject Aria2Dispatch::statusOf(int slot, const GidTable& table) const {
    return EntryStatus(ctx_.list.DownloadList.at(slot), table.gidOf(slot),
                       ctx_.settings.DownloadFolder);
}

QJsonValue Aria2Dispatch::page(const RpcParams& params,
                               std::initializer_list<ListEntryState> states) {
    const int offset = params.integer(0);
    const int count = params.integer(1);
    const QStringList keys = params.texts(2);
    std::vector<int> chosen = slotsIn(states);
    if (std::find(states.begin(), states.end(), ListEntryState::Queued) != states.end()) {
        // The waiting list in the order the queue starts it.
        const std::vector<int> order = queue_.WaitingOrder();
        const std::set<int> shown(chosen.begin(), chosen.end());
        chosen.clear();
        std::copy_if(order.begin(), order.end(), std::back_inserter(chosen),
                     [&](int slot) { return shown.contains(slot); });
    }
    const GidTable table = gids();
    const auto size = qsizetype(chosen.size());
    // From the offset on, or, counted from the end, from there towards the front.
    const qsizetype first = offset >= 0 ? offset : size + offset;
    const int step = offset >= 0 ? 1 : -1;
    QJsonArray result;
    for (qsizetype i = first; i >= 0 && i < size && result.size() < count; i += step) {
        result.append(KeepKeys(statusOf(chosen[std::size_t(i)], table), keys));
    }
    return result;
}
