// Connecting an entry: the look-up of a host name (on a worker thread), the connect to each of
// its addresses in turn, and the hand-over to the owner once the connection stands.

#include "net/connect_pipeline.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <iterator>

#include "core/diagnostics/log_categories.h"
#include "core/types/vb_convert.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

namespace {

// How long a connect may go unanswered while the name has other addresses to try: short enough
// that the last of them still gets its turn within the probe's time-out.
constexpr int AttemptWaitMs = 2500;

bool Unspecified(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr == 0;
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    return address.ss_family != AF_INET6 || IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr);
}

// The addresses of an answer in the order they are tried: IPv6 first, then IPv4, each in the
// order the system gave. 0.0.0.0 and :: never count: connecting to them would reach this machine.
std::vector<sockaddr_storage> ConnectOrder(const HostAddresses& found, bool ipv4Only) {
    std::vector<sockaddr_storage> order;
    for (const int family : {AF_INET6, AF_INET}) {
        for (const sockaddr_storage& address : found.addresses) {
            if (address.ss_family == family && !(ipv4Only && family == AF_INET6) &&
                !Unspecified(address)) {
                order.push_back(address);
            }
        }
    }
    return order;
}

int SocketFamily(int fd) {
    int family = AF_UNSPEC;
    socklen_t length = sizeof family;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &length) == 0 ? family : AF_UNSPEC;
}

}  // namespace

ConnectPipeline::ConnectPipeline(VelmoraSockets& sockets, TlsContext& tls)
    : sockets_(sockets), tls_(tls) {}

void ConnectPipeline::start(int index, const QString& server, std::int32_t port) {
    SocketEntry* e = sockets_.entry(index);
    if (e == nullptr) {
        return;
    }
    // A new attempt: an answer still due for an earlier one, and the readiness of an earlier
    // connection, belong to nobody now.
    sockets_.renew(*e);
    sockets_.unwatch(index);
    e->State = EntryState::Idle;
    e->Tls.reset();
    e->readAgain = false;
    e->TlsProblem.clear();
    e->TlsFailureCause = {};
    e->TlsPeerFingerprint.clear();
    e->TlsClosedCleanly = false;
    e->fallbacks.clear();
    QString host = server;
    e->TargetPort = port;  // TLS sessions are kept per host and port
    if (e->UseSocks) {
        e->TargetHost = server;
        e->TargetPort = port;
        host = e->SocksServer;
        port = e->SocksPort;
    }
    aimTunnel(*e, host, port);

    // Everything the caller may change once Connect has returned (RateLimited) is settled now,
    // before the look-up, as when the look-up blocked.
    if (!e->Handle.valid()) {
        sockets_.AllocateEntry(index);
    }
    e->SendBuffer.clear();
    e->RecvBuffer.clear();
    e->PeerClosed = false;
    e->RateLimited = 0;
    e->State = EntryState::Idle;

    // SOCKS4 speaks IPv4 only, to its server as well.
    const bool ipv4Only = e->UseSocks && e->Socks.version == 4;
    sockaddr_storage address{};
    if (LiteralAddress(host, !ipv4Only, address)) {
        connectTo(index, WithPort(address, static_cast<std::uint16_t>(port)));
        return;
    }
    e->State = EntryState::Connecting;
    lookUp(index, host, ipv4Only ? AF_INET : AF_UNSPEC,
           [this, port](int i, const std::vector<sockaddr_storage>& found) {
               connectLookedUp(i, found, port);
           });
}

void ConnectPipeline::lookUp(int index, const QString& name, int family, LookedUp then) {
    const std::uint64_t generation = sockets_.entry(index)->generation;
    auto answered = [this, index, generation, name, family, then](const HostAddresses& found) {
        SocketEntry* e = sockets_.entry(index);
        if (e == nullptr || e->generation != generation) {
            qCDebug(lcNet).nospace().noquote() << "entry " << index << ": the answer for " << name
                                               << " came after its connection had gone; ignored";
            return;
        }
        // Closing an entry or giving it back renews it: one that still waits is in use.
        Q_ASSERT(e->InUse != 0);
        const std::vector<sockaddr_storage> order = ConnectOrder(found, family == AF_INET);
        if (!order.empty()) {
            QStringList texts;
            for (const sockaddr_storage& address : order) {
                texts << AddressText(address);
            }
            qCDebug(lcNet).nospace().noquote()
                << "entry " << index << ": " << name << " is " << texts.join(QStringLiteral(", "));
        } else {
            qCInfo(lcNet).nospace().noquote()
                << "entry " << index << ": no usable address for " << name << " ("
                << (found.error != 0 ? gai_strerror(found.error) : "none usable") << ")";
        }
        then(index, order);
    };
    if (!MayBeHostName(name)) {
        // No name server is asked about this one: it fails at once, inside Connect, as always.
        answered(HostAddresses{EAI_NONAME, {}});
        return;
    }
    qCDebug(lcNet).nospace().noquote() << "entry " << index << ": looking up " << name;
    resolver_.lookUp(name, family, std::move(answered));
}

void ConnectPipeline::connectLookedUp(int index, const std::vector<sockaddr_storage>& found,
                                      std::int32_t port) {
    if (!found.empty()) {
        SocketEntry* e = sockets_.entry(index);
        const auto withPort = [port](const sockaddr_storage& address) {
            return WithPort(address, static_cast<std::uint16_t>(port));
        };
        std::transform(found.begin() + 1, found.end(), std::back_inserter(e->fallbacks), withPort);
        connectTo(index, withPort(found.front()));
        return;
    }
    // An unknown name is reported twice, the look-up's error and the connect's, as it always
    // was; the owner may close or give the entry back in between.
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": reported as " << SocketErrorText(WinSock::AddressNotAvailable);
    SocketEntry* e = sockets_.entry(index);
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
    }
    e = sockets_.entry(index);
    if (e == nullptr || e->InUse == 0) {
        return;
    }
    if (!e->Handle.valid()) {
        sockets_.AllocateEntry(index);
    }
    e->State = EntryState::Failed;
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
    }
}

void ConnectPipeline::connectTo(int index, const sockaddr_storage& target) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && e->InUse != 0);
    // The socket made in advance is IPv4: an IPv6 address needs another.
    if (e->Handle.valid() && SocketFamily(e->Handle.get()) != target.ss_family) {
        sockets_.openHandle(index, target.ss_family);
    }
    e->remote = target;
    int result = -1;
    int error = EBADF;  // no socket to be had
    if (e->Handle.valid()) {
        const socklen_t length =
            target.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        do {
            result = ::connect(e->Handle.get(), reinterpret_cast<const sockaddr*>(&target), length);
        } while (result != 0 && errno == EINTR);
        error = result == 0 ? 0 : errno;
    }
    if (result == 0 || error == EINPROGRESS || error == EWOULDBLOCK) {
        qCDebug(lcNet).nospace().noquote()
            << "entry " << index << ": connecting to " << AddressText(e->remote);
        if (result == 0) {
            e->InUse = 1;
            e->State = EntryState::Connected;
        } else {
            e->State = EntryState::Connecting;
        }
        // Completion is reported by the first writable notification, in both cases.
        sockets_.watch(index);
        e->connectPending = true;
        limitAttempt(index);
        return;
    }
    if (!e->fallbacks.empty()) {
        qCInfo(lcNet).nospace().noquote()
            << "entry " << index << ": connect to " << AddressText(e->remote) << " failed at once ("
            << SocketErrorText(WinSockErrorFromErrno(error)) << "); trying the next address";
        tryNextAddress(index);
        return;
    }
    // Whatever stopped it, the owner hears "address not available", as it always has.
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": connect to " << AddressText(e->remote) << " failed at once ("
        << SocketErrorText(WinSockErrorFromErrno(error)) << "), reported as "
        << SocketErrorText(WinSock::AddressNotAvailable);
    e->State = EntryState::Failed;
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
    }
}

void ConnectPipeline::limitAttempt(int index) {
    const SocketEntry* e = sockets_.entry(index);
    if (e->fallbacks.empty()) {
        return;  // the last address gets whatever time the owner gives it
    }
    // An address that never answers must not use up the time the others have.
    const std::uint64_t generation = e->generation;
    QTimer::singleShot(AttemptWaitMs, &sockets_, [this, index, generation] {
        SocketEntry* now = sockets_.entry(index);
        if (now != nullptr && now->generation == generation && now->connectPending) {
            qCInfo(lcNet).nospace().noquote()
                << "entry " << index << ": no answer from " << AddressText(now->remote)
                << " within " << AttemptWaitMs << " ms; trying the next address";
            tryNextAddress(index);
        }
    });
}

void ConnectPipeline::tryNextAddress(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && !e->fallbacks.empty());
    const sockaddr_storage next = e->fallbacks.front();
    e->fallbacks.erase(e->fallbacks.begin());
    // A fresh socket: the failed one is done with, and its readiness must reach nobody.
    sockets_.openHandle(index, next.ss_family);
    connectTo(index, next);
}

void ConnectPipeline::tcpAnswered(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && e->connectPending && e->readReady && e->writeReady);
    const std::uint64_t generation = e->generation;
    e->connectPending = false;
    int error = 0;
    socklen_t length = sizeof(error);
    ::getsockopt(e->Handle.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        qCInfo(lcNet).nospace().noquote()
            << "entry " << index << ": connect to " << AddressText(e->remote)
            << " failed: " << SocketErrorText(WinSockErrorFromErrno(error))
            << (e->fallbacks.empty() ? "" : "; trying the next address");
        if (!e->fallbacks.empty()) {
            tryNextAddress(index);  // the owner hears only when every address has failed
            return;
        }
        e->writeReady->setEnabled(false);
        sockets_.HandleSocketEvent(index, SocketEvent::ConnectCompleted,
                                   WinSockErrorFromErrno(error));
        return;
    }
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": connected to " << AddressText(e->remote);
    e->fallbacks.clear();
    e->readReady->setEnabled(true);
    sockets_.HandleSocketEvent(index, SocketEvent::ConnectCompleted, 0);
    // The connection may have been closed or replaced by the handler.
    e = sockets_.entry(index);
    if (e != nullptr && e->generation == generation) {
        if (!e->SendBuffer.isEmpty()) {
            sockets_.HandleSocketEvent(index, SocketEvent::Writable, 0);
        }
        sockets_.updateWriteInterest(index);
    }
}

void ConnectPipeline::tcpConnected(int index) {
    if (sockets_.entry(index)->UseSocks) {
        socksConnected(index);
    } else {
        connectionUp(index);
    }
}

void ConnectPipeline::connectionUp(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && !e->UseSocks);
    if (e->Tunnel.phase == HttpTunnel::Phase::Connecting) {
        tunnelRequest(index);
        return;
    }
    if (!e->TlsServerName.isEmpty()) {
        startTls(index);
        return;
    }
    e->State = EntryState::Connected;
    if (e->Owner) {
        e->Owner->RaiseConnect(nullptr);
    }
}
