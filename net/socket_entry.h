#pragma once

#include <sys/socket.h>

#include <QByteArray>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "core/types/unique_fd.h"
#include "net/http_tunnel.h"
#include "net/socks_proxy.h"
#include "net/tls_connection.h"

class SocketClass;

// Connection states of an entry; only Receiving steers behaviour (the pump reads those again).
namespace EntryState {
constexpr std::int32_t Idle = 0;
constexpr std::int32_t Connected = 1;
constexpr std::int32_t Connecting = 2;
constexpr std::int32_t Receiving = 5;
constexpr std::int32_t Failed = 7;
constexpr std::int32_t SocksRequested = 10;
constexpr std::int32_t TunnelRequested = 11;
}  // namespace EntryState

// The four readiness notifications (and the unused accept) as their event codes.
namespace SocketEvent {
constexpr int Readable = 1;
constexpr int Writable = 2;
constexpr int Accept = 8;
constexpr int ConnectCompleted = 16;
constexpr int PeerClosed = 32;
}  // namespace SocketEvent

// What the last read of an entry came to, for the readiness dispatcher.
enum class ReadOutcome { Data, WouldBlock, PeerClosed, Failed, Deferred };

// Notifiers may be retired from inside their own signal: silenced at once, deleted by the event
// loop (or by their parent, the socket module, if that goes first).
struct RetireNotifier {
    void operator()(QSocketNotifier* notifier) const {
        notifier->setEnabled(false);
        notifier->disconnect();
        notifier->deleteLater();
    }
};
using NotifierHolder = std::unique_ptr<QSocketNotifier, RetireNotifier>;

struct SocketEntry {
    std::int32_t InUse = 0;  // 0 free; -1 owned by a live object; 1 after an immediate connect
    std::int32_t State = EntryState::Idle;
    UniqueFd Handle;        // the OS socket, if there is one; Handle.get() reads its number
    QByteArray SendBuffer;  // queued, not yet accepted by the OS
    QByteArray RecvBuffer;  // received, not yet taken by GetData
    bool PeerClosed = false;
    std::int32_t RecvSize = 0;  // size of one read: the socket's receive buffer
    float RateLimited = 0;      // 1.0: reads go through the speed limiter
    std::int32_t LastError = 0;
    QPointer<SocketClass> Owner;
    bool UseSocks = false;
    QString SocksServer;
    std::int32_t SocksPort = 0;
    SocksHandshake Socks;
    QString TargetHost;
    std::int32_t TargetPort = 0;
    // TLS: the name to speak it to once connected (empty: plain TCP), the connection itself
    // from the start of the handshake to the close, and what the last one left to be asked.
    QString TlsServerName;
    std::unique_ptr<TlsConnection> Tls;
    QString TlsProblem;
    TlsFailure TlsFailureCause;
    QByteArray TlsPeerFingerprint;
    bool TlsClosedCleanly = false;
    // The HTTP proxy the next connection reaches its target through; cleared as TLS is.
    HttpTunnel Tunnel;

    // Readiness from the event loop, and what the dispatcher needs to know between reports.
    NotifierHolder readReady;
    NotifierHolder writeReady;
    bool connectPending = false;
    ReadOutcome lastRead = ReadOutcome::WouldBlock;
    std::int32_t lastReadError = 0;  // WinSock number of a failed read
    // TLS holds more than the last read took, or ended behind it: no readiness will come for
    // that, so the entry reads again from the event loop.
    bool readAgain = false;
    // The generation a held-back read has a retry timer for (0: none), so that a retry and the
    // pump never start a second chain of retries for one connection.
    std::uint64_t retryFor = 0;
    // Changes whenever the socket is closed, replaced or connected anew (never to a value any
    // entry had before), so that code running after an owner's handler, and a look-up answered
    // late, can tell that the connection it worked for has gone.
    std::uint64_t generation = 0;
    sockaddr_storage remote{};  // where the last connect went, for the diagnostics
    // The name's other addresses, in the order they are tried should the connect under way
    // fail; empty once a connection stands.
    std::vector<sockaddr_storage> fallbacks;
};
// The table is a vector that grows while sockets are in use: entries move, never copy.
static_assert(std::is_nothrow_move_constructible_v<SocketEntry>);
