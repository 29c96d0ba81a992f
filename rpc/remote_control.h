#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <memory>

#include "core/download_list/entry_state.h"
#include "rpc/rpc_transport_options.h"

class Aria2Dispatch;
class DownloadQueue;
class RpcServer;
struct EngineContext;

// What a front end turns the remote control on with.
struct RemoteControlOptions {
    RpcTransportOptions transport;
    // Every client must give it ("token:SECRET"); never empty (see NewRpcSecret).
    QString secret;
    // Set: clients may place files only inside this folder (a daemon whose list keeps no
    // entry outside its folder); empty: anywhere the program may write.
    QString saveRoot{};
};

// The remote control as a front end runs it: aria2's methods over the front end's queue,
// served over HTTP and WebSocket, and aria2's notifications sent as the queue's entries start,
// pause, stop, finish or fail. The desktop program and brenloft-get --enable-rpc each make one
// right after their queue; what only they can do (keep changed options, end the program) they
// are asked through the signals.
class RemoteControl : public QObject {
    Q_OBJECT
public:
    RemoteControl(EngineContext& context, DownloadQueue& queue, RemoteControlOptions options,
                  QObject* parent = nullptr);
    ~RemoteControl() override;

    // Starts listening; empty when it does, else why not, in English (the port taken, a
    // certificate that does not load...).
    QString start();
    quint16 port() const;
    bool secure() const;
    const RemoteControlOptions& options() const { return options_; }

signals:
    // aria2.changeGlobalOption changed the settings (already in effect): keep them.
    void settingsChanged();
    // aria2.shutdown (force false) or aria2.forceShutdown, told after the answer went out: end
    // the program as its own quit does.
    void shutdownRequested(bool force);

private:
    // Compares each entry's state with the last one seen and tells the clients what changed.
    void watchEntries();

    EngineContext& ctx_;
    DownloadQueue& queue_;
    const RemoteControlOptions options_;
    std::unique_ptr<Aria2Dispatch> dispatch_;
    std::unique_ptr<RpcServer> server_;
    std::map<int, ListEntryState> seen_;  // slot -> state at the last look
};

// A new secret for a front end that was given none: 24 random bytes, base64url (32 letters).
QString NewRpcSecret();

// The warning a front end shows when the options listen beyond loopback without TLS (the
// secret and every answer cross the network readable); empty when they do not.
QString RemoteControlWarning(const RpcTransportOptions& options);
