#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <set>
#include <variant>
#include <vector>

#include "core/download_list/entry_options.h"
#include "core/download_list/entry_state.h"
#include "rpc/gid_table.h"
#include "rpc/rpc_dispatch.h"
#include "rpc/rpc_params.h"

class AddressChanges;
class DownloadQueue;
struct EngineContext;

// aria2's methods over the download list: what an aria2 client asks, answered in aria2's
// shapes from the entries, and its commands carried out through the queue and the add rules
// (never on a session directly). One per server; the transports hand it each request.
class Aria2Dispatch : public RpcDispatch {
public:
    // Every method but the system.* ones wants `secret` as "token:SECRET" first; an empty
    // one admits nobody.
    Aria2Dispatch(EngineContext& context, DownloadQueue& queue, QString secret);
    ~Aria2Dispatch() override;

    void handle(const QJsonObject& request, Reply reply) override;

    // The methods answered, by name.
    static QStringList methodNames();

    // The GID a client sees for the slot; empty for one it does not see.
    QString gidOf(int slot) const { return gids().gidOf(slot); }

    // What only the front end can do, asked by changeGlobalOption (the settings changed and are
    // in effect: keep them) and by shutdown and forceShutdown (end the program once the answer
    // is out). Unset: nothing is kept, and shutdown answers with an error.
    std::function<void()> settingsChanged;
    std::function<void(bool force)> shutdown;
    // Set: a file a client places (`dir`, `out`, the global `dir`) must lie inside this folder.
    QString saveRoot;
    // Refuses, as aria2 refuses a bad option, a path outside saveRoot.
    void checkInsideRoot(const QString& path, const QString& option) const;

private:
    using Outcome = std::variant<QJsonValue, RpcFailure>;
    using Answer = std::function<void(const Outcome&)>;
    using Method = QJsonValue (Aria2Dispatch::*)(const RpcParams&);
    // A method that asks a server first: it calls the answer once, later; it may still throw
    // an RpcFailure before it asks.
    using LaterMethod = void (Aria2Dispatch::*)(const RpcParams&, const Answer&);
    struct MethodEntry {
        const char* name;
        Method method;
        bool open;  // needs no secret, and takes none off its parameters
        LaterMethod later = nullptr;
    };
    static const std::vector<MethodEntry>& methods();

    void call(const QString& name, QJsonArray params, Answer answer);
    // A method that answers at once (system.multicall's members): its result, or an
    // RpcFailure thrown.
    QJsonValue callNow(const QString& name, const QJsonArray& params);

    // Which slots a client sees: all entries but those removed before this server heard of it.
    GidTable gids() const;
    // The slot the GID parameter at `i` names, and its GID in full.
    int slotAt(const RpcParams& params, int i, QString* gid = nullptr) const;
    // The shown slots whose states are among `states`, in list order.
    std::vector<int> slotsIn(std::initializer_list<ListEntryState> states) const;
    QJsonObject statusOf(int slot, const GidTable& table) const;
    // tellWaiting and tellStopped: offset (from the end when negative), count, keys.
    QJsonValue page(const RpcParams& params, std::initializer_list<ListEntryState> states);

    // Reading (aria2_listing.cpp).
    QJsonValue tellStatus(const RpcParams& params);
    QJsonValue tellActive(const RpcParams& params);
    QJsonValue tellWaiting(const RpcParams& params);
    QJsonValue tellStopped(const RpcParams& params);
    QJsonValue getUris(const RpcParams& params);
    QJsonValue getFiles(const RpcParams& params);
    QJsonValue getServers(const RpcParams& params);
    QJsonValue getPeers(const RpcParams& params);
    QJsonValue getGlobalStat(const RpcParams& params);
    QJsonValue getVersion(const RpcParams& params);
    QJsonValue getSessionInfo(const RpcParams& params);
    QJsonValue getOption(const RpcParams& params);
    QJsonValue getGlobalOption(const RpcParams& params);
    QJsonValue listMethods(const RpcParams& params);
    QJsonValue listNotifications(const RpcParams& params);
    QJsonValue multicall(const RpcParams& params);

    // Commands (aria2_commands.cpp).
    QJsonValue addUri(const RpcParams& params);
    QJsonValue addTorrent(const RpcParams& params);
    QJsonValue addMetalink(const RpcParams& params);
    QJsonValue pause(const RpcParams& params) { return pauseOne(params, false); }
    QJsonValue forcePause(const RpcParams& params) { return pauseOne(params, true); }
    QJsonValue pauseAll(const RpcParams& params) { return pauseEvery(params, false); }
    QJsonValue forcePauseAll(const RpcParams& params) { return pauseEvery(params, true); }
    QJsonValue unpause(const RpcParams& params);
    QJsonValue unpauseAll(const RpcParams& params);
    QJsonValue remove(const RpcParams& params);
    QJsonValue removeDownloadResult(const RpcParams& params);
    QJsonValue purgeDownloadResult(const RpcParams& params);
    QJsonValue saveSession(const RpcParams& params);
    QJsonValue shutdownGently(const RpcParams&) { return shutdownProgram(false); }
    QJsonValue shutdownNow(const RpcParams&) { return shutdownProgram(true); }
    QJsonValue shutdownProgram(bool force);
    QJsonValue changePosition(const RpcParams& params);
    QJsonValue changeUri(const RpcParams& params);

    // Options (aria2_options.cpp).
    QJsonValue changeOption(const RpcParams& params);
    QJsonValue changeGlobalOption(const RpcParams& params);
    // `kept` with what `options` asks of one download (split, max-connection-per-server,
    // user-agent); a value that does not read is thrown as an RpcFailure.
    static EntryOptions entryOptions(const QJsonObject& options, EntryOptions kept);
    static constexpr int MaxEntrySegments = 8;
    static constexpr int MaxSimultaneous = 20;

    // Brenloft's own (brenloft_extras.cpp).
    QJsonValue checksumOf(const RpcParams& params);
    void zipContents(const RpcParams& params, const Answer& answer);
    void changeAddress(const RpcParams& params, const Answer& answer);
    QJsonValue pauseOne(const RpcParams& params, bool force);
    QJsonValue pauseEvery(const RpcParams& params, bool force);
    // Pauses a running entry, or takes a waiting one out of the queue; false for any other.
    bool hold(int slot, bool force);
    // Takes a finished or failed entry off the list, or forgets a removed one; false for any
    // other.
    bool forget(int slot);

    EngineContext& ctx_;
    DownloadQueue& queue_;
    QString secret_;
    QString sessionId_;
    // Entries removed through this server, which aria2 clients expect to see as "removed"
    // until they forget them; the list itself keeps no such difference.
    std::set<int> removed_;
    // What asks servers for the methods that answer later: aborted, their answers never
    // given, when the dispatcher goes (its transports have gone before it).
    QObject helpers_;
    std::unique_ptr<AddressChanges> addressChanges_;
};
