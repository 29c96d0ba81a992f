// The methods that read: an entry's status, files, addresses and servers, the lists by state,
// the totals, and what the server itself is.

#include <QFileInfo>
#include <cmath>

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"
#include "rpc/aria2_dispatch.h"
#include "rpc/entry_status.h"

namespace {

using enum ListEntryState;

constexpr std::initializer_list<ListEntryState> WaitingStates{Queued, Scheduled, Waiting, Paused};
constexpr std::initializer_list<ListEntryState> StoppedStates{Failed, Finished, Removed};

}  // namespace

QJsonValue Aria2Dispatch::tellStatus(const RpcParams& params) {
    const GidTable table = gids();
    const int slot = table.find(params.text(0));
    return KeepKeys(statusOf(slot, table), params.texts(1));
}

QJsonValue Aria2Dispatch::tellActive(const RpcParams& params) {
    const QStringList keys = params.texts(0);
    const GidTable table = gids();
    QJsonArray result;
    for (const int slot : slotsIn({Running})) {
        result.append(KeepKeys(statusOf(slot, table), keys));
    }
    return result;
}

QJsonValue Aria2Dispatch::tellWaiting(const RpcParams& params) {
    return page(params, WaitingStates);
}

QJsonValue Aria2Dispatch::tellStopped(const RpcParams& params) {
    return page(params, StoppedStates);
}

QJsonValue Aria2Dispatch::getUris(const RpcParams& params) {
    return EntryUris(ctx_.list.DownloadList.at(slotAt(params, 0)));
}

QJsonValue Aria2Dispatch::getFiles(const RpcParams& params) {
    return EntryFiles(ctx_.list.DownloadList.at(slotAt(params, 0)), ctx_.settings.DownloadFolder);
}

QJsonValue Aria2Dispatch::getServers(const RpcParams& params) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    const DownloadRecord& r = ctx_.list.DownloadList.at(slot);
    if (StateOf(r) != Running) {
        throw RpcFailure{1, QStringLiteral("No active download for GID#%1").arg(gid)};
    }
    const QJsonObject status = statusOf(slot, gids());
    const QJsonObject server{{QStringLiteral("uri"), r.Url},
                             {QStringLiteral("currentUri"), r.Url},
                             {QStringLiteral("downloadSpeed"), status[u"downloadSpeed"]}};
    return QJsonArray{QJsonObject{{QStringLiteral("index"), QStringLiteral("1")},
                                  {QStringLiteral("servers"), QJsonArray{server}}}};
}

QJsonValue Aria2Dispatch::getPeers(const RpcParams& params) {
    slotAt(params, 0);  // an unknown GID is still an error
    return QJsonArray{};
}

QJsonValue Aria2Dispatch::getGlobalStat(const RpcParams&) {
    const auto count = [this](std::initializer_list<ListEntryState> states) {
        return QString::number(slotsIn(states).size());
    };
    return QJsonObject{
        {QStringLiteral("downloadSpeed"), QString::number(std::llround(queue_.runningRates()))},
        {QStringLiteral("uploadSpeed"), QStringLiteral("0")},
        {QStringLiteral("numActive"), count({Running})},
        {QStringLiteral("numWaiting"), count(WaitingStates)},
        {QStringLiteral("numStopped"), count(StoppedStates)},
        {QStringLiteral("numStoppedTotal"), count(StoppedStates)},
    };
}

QJsonValue Aria2Dispatch::getVersion(const RpcParams&) {
    return QJsonObject{
        {QStringLiteral("version"), QStringLiteral(BRENLOFT_VERSION)},
        {QStringLiteral("enabledFeatures"),
         QJsonArray{QStringLiteral("HTTPS"), QStringLiteral("Message Digest")}},
    };
}

QJsonValue Aria2Dispatch::getSessionInfo(const RpcParams&) {
    return QJsonObject{{QStringLiteral("sessionId"), sessionId_}};
}

QJsonValue Aria2Dispatch::getOption(const RpcParams& params) {
    const DownloadRecord& r = ctx_.list.DownloadList.at(slotAt(params, 0));
    const QString path = EntryFiles(r, ctx_.settings.DownloadFolder)[0][u"path"].toString();
    const QFileInfo file(path);
    // The segments a download plans, as aria2 names its connections to one server.
    const EntryOptions asked = ReadEntryOptions(r);
    const int segments = asked.segments > 0   ? asked.segments
                         : r.SegmentCount > 0 ? r.SegmentCount
                                              : ctx_.settings.MaxSegments;
    const QString split = QString::number(segments);
    QJsonObject options{
        {QStringLiteral("dir"), path.isEmpty() ? ctx_.settings.DownloadFolder : file.path()},
        {QStringLiteral("out"), file.fileName()},
        {QStringLiteral("split"), split},
        {QStringLiteral("max-connection-per-server"), split},
    };
    if (!asked.userAgent.isEmpty()) {
        options.insert(QStringLiteral("user-agent"), asked.userAgent);
    }
    return options;
}

QJsonValue Aria2Dispatch::getGlobalOption(const RpcParams&) {
    const Settings& s = ctx_.settings;
    const QString segments = QString::number(s.MaxSegments);
    return QJsonObject{
        {QStringLiteral("dir"), s.DownloadFolder},
        {QStringLiteral("max-concurrent-downloads"), QString::number(s.MaxSimulDownlads)},
        {QStringLiteral("max-overall-download-limit"),
         QString::number(s.UseSpeedLimiter == FlagTrue ? s.SpeedLimiter : 0)},
        {QStringLiteral("split"), segments},
        {QStringLiteral("max-connection-per-server"), segments},
        {QStringLiteral("max-tries"), QString::number(s.MaxTries)},
    };
}

QJsonValue Aria2Dispatch::listMethods(const RpcParams&) {
    return QJsonArray::fromStringList(methodNames());
}

QJsonValue Aria2Dispatch::listNotifications(const RpcParams&) {
    return QJsonArray{
        QStringLiteral("aria2.onDownloadStart"), QStringLiteral("aria2.onDownloadPause"),
        QStringLiteral("aria2.onDownloadStop"), QStringLiteral("aria2.onDownloadComplete"),
        QStringLiteral("aria2.onDownloadError")};
}

QJsonValue Aria2Dispatch::multicall(const RpcParams& params) {
    const QJsonArray calls = params.array(0);
    QJsonArray results;
    for (const QJsonValue& each : calls) {
        const QJsonObject one = each.toObject();
        const QJsonValue name = one.value(QStringLiteral("methodName"));
        const QJsonValue inner = one.value(QStringLiteral("params"));
        try {
            if (!name.isString()) {
                throw RpcFailure{1, QStringLiteral("Missing methodName.")};
            }
            if (name.toString() == QLatin1String("system.multicall")) {
                throw RpcFailure{1, QStringLiteral("Recursive system.multicall forbidden.")};
            }
            if (!inner.isUndefined() && !inner.isArray()) {
                throw RpcFailure{1, QStringLiteral("Missing params.")};
            }
            // A result is wrapped in an array of its own; a failure stands as it is.
            results.append(QJsonArray{callNow(name.toString(), inner.toArray())});
        } catch (const RpcFailure& failure) {
            results.append(QJsonObject{{QStringLiteral("code"), failure.code},
                                       {QStringLiteral("message"), failure.message}});
        }
    }
    return results;
}
