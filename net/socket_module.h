#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "net/socket_entry.h"

// The program's own non-blocking TCP layer: one table of socket entries, readiness from the
// event loop turned into buffer work and events on the owning SocketClass, and the speed
// limiter shared by every rate-limited socket. One instance, started at start-up and stopped
// when the program quits; socket objects are created against it.
class VelmoraSockets : public QObject {
    Q_OBJECT
public:
    struct Limits {
        bool UseSpeedLimiter = false;
        std::int32_t SpeedLimiter = 10240;  // bytes per second
    };
    using TickSource = std::function<std::int32_t()>;

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
    int FindEntryByHandle(int handle) const;
    // The dotted IPv4 address the entry's connection reached (through SOCKS: the target it
    // asked for); empty when it is not connected.
    QString PeerAddress(int index) const;
    // Blocking look-up of the first IPv4 address; 0 on failure (`dotted` then untouched).
    std::uint32_t ResolveHost(const QString& name, QString& dotted) const;
    // Reads again, after pending notifications, every socket that may hold unread data.
    void PumpSockets();

    // The table, indexed from 1 (entry 0 exists and is unused). Callers reach an entry through
    // its object's SocketIndex; the download engine sets RateLimited this way.
    SocketEntry* entry(int index);
    int count() const { return count_; }

    // The speed limit as the options set it; read at every limited read.
    void setLimits(const Limits& limits) { limits_ = limits; }
    // The millisecond clock of the limiter, replaceable for tests.
    void setTickSource(TickSource tick) { tick_ = std::move(tick); }
    std::int32_t limiterLastTick() const { return LimiterLastTick; }
    std::int32_t limiterCarry() const { return LimiterCarry; }
    // How many bytes the next limited read may take now; 0 means not now. Updates the state.
    std::int32_t LimitedReadSize(std::int32_t recvSize);

private:
    // Closes the entry's OS socket, if it has one, and stops watching it.
    void dropHandle(int index);
    void watch(int index);
    void unwatch(int index);
    void updateWriteInterest(int index);
    void onReadable(int index);
    void onWritable(int index);
    void socksConnected(int index);
    void socksReplied(int index);

    std::vector<SocketEntry> SocketTable;
    int count_ = 0;
    bool started_ = false;
    std::int32_t LimiterLastTick = 0;
    std::int32_t LimiterCarry = 0;
    Limits limits_;
    TickSource tick_;
};
