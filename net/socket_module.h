#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "net/connect_pipeline.h"
#include "net/host_resolver.h"
#include "net/socket_entry.h"
#include "net/speed_limiter.h"
#include "net/tls_context.h"

// The program's own non-blocking TCP layer: one table of socket entries, readiness from the
// event loop turned into buffer work and events on the owning SocketClass. The speed limiter
// that every rate-limited socket shares, and the steps that connect an entry, are its parts.
// One instance, started at start-up and stopped when the program quits; socket objects are
// created against it.
class VelmoraSockets : public QObject {
    Q_OBJECT
public:
    using Limits = SpeedLimiter::Limits;
    using TickSource = SpeedLimiter::TickSource;

    explicit VelmoraSockets(QObject* parent = nullptr);
    ~VelmoraSockets() override;

    void StartSockets();
    void StopSockets();

    int AllocateEntry(int index);
    void CloseEntry(int index);
    void ReleaseEntry(int index);
    void ConnectEntry(int index, const QString& server, std::int32_t port);
    void QueueSend(int index, const QByteArray& data);
    void FlushSend(int index);
    void ReceiveNow(int index);
    void HandleSocketEvent(int index, int event, int error);
    // The address the entry's connection reached, "127.0.0.1" or "::1" (through SOCKS: the
    // target it asked for); empty when it is not connected.
    QString PeerAddress(int index) const;
    // Reads again, after pending notifications, every socket that may hold unread data.
    void PumpSockets();

    // The table, indexed from 1 (entry 0 exists and is unused). Callers reach an entry through
    // its object's SocketIndex; the download engine sets RateLimited this way.
    SocketEntry* entry(int index);
    int count() const { return count_; }

    // The speed limit as the options set it; read at every limited read.
    void setLimits(const Limits& limits) { limiter_.setLimits(limits); }
    // The millisecond clock of the limiter, replaceable for tests.
    void setTickSource(TickSource tick) { limiter_.setTickSource(std::move(tick)); }

    // Host names are looked up on worker threads; tests put a look-up of their own in place of
    // the system's, and wait for the answers still due.
    void setLookup(HostLookup lookup) { pipeline_.setLookup(std::move(lookup)); }
    int lookupsInFlight() const { return pipeline_.lookupsInFlight(); }

    // TLS for every connection of the program. An extra CA file is trusted besides the
    // system's store; verification off accepts any certificate; a trusted (host, SHA-256 of
    // the leaf certificate) is accepted for that host only, even if it does not verify. A change
    // starts a new context: sessions made under the old rules are not resumed.
    void setTlsCaFile(const QString& file);
    void setTlsVerify(bool verify);
    void setTlsTrusted(const QList<QPair<QString, QByteArray>>& trusted);
    void trustTlsCertificate(const QString& host, const QByteArray& fingerprint);
    // The entry speaks TLS to `serverName` once its next connection is up; empty: plain TCP.
    void SetEntryTls(int index, const QString& serverName);
    // Handshakes since start: full ones, and those that resumed an earlier session.
    int tlsFullHandshakes() const { return tls_->fullHandshakes; }
    int tlsResumedHandshakes() const { return tls_->resumedHandshakes; }

private:
    // The connect steps work on the table through the primitives below as well.
    friend class ConnectPipeline;

    // Closes the entry's OS socket, if it has one, and stops watching it.
    void dropHandle(int index);
    // Marks the entry's connection as a new one: late answers and handlers' callers see it.
    void renew(SocketEntry& e) { e.generation = ++lastGeneration_; }
    // Gives the entry a new OS socket of `family`: a new connection, whatever came before.
    void openHandle(int index, int family);
    // Readiness from the event loop (socket_readiness.cpp).
    void watch(int index);
    void unwatch(int index);
    void updateWriteInterest(int index);
    void onReadable(int index);
    void onWritable(int index);
    // Reads again from the event loop what TLS holds, unless the connection has gone by then.
    void readAgainLater(int index);
    void retryHeldBackRead(int index);
    std::int64_t tlsReceive(SocketEntry& e, char* into, std::int32_t size);

    // Before the table: the entries' TLS connections use it to their end.
    std::unique_ptr<TlsContext> tls_;
    std::vector<SocketEntry> SocketTable;
    int count_ = 0;
    bool started_ = false;
    SpeedLimiter limiter_;
    std::uint64_t lastGeneration_ = 0;
    // Last: its look-ups still due are answered to nobody once the module goes.
    ConnectPipeline pipeline_;
};
