// Connecting an entry: the look-up of a host name (on a worker thread), the connect itself, and
// the SOCKS4 request and reply that stand between a proxied connection and its target.

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

// A host given as an address: IPv4 read as it always was ("127.1" too), IPv6 where allowed.
bool LiteralAddress(const QString& host, bool ipv6, sockaddr_storage& address) {
    const QByteArray text = host.toLatin1();
    address = sockaddr_storage{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    if (::inet_aton(text.constData(), &v4.sin_addr) != 0) {
        v4.sin_family = AF_INET;
        return true;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (ipv6 && ::inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        return true;
    }
    return false;
}

int SocketFamily(int fd) {
    int family = AF_UNSPEC;
    socklen_t length = sizeof family;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &length) == 0 ? family : AF_UNSPEC;
}

}  // namespace

void VelmoraSockets::ConnectEntry(int index, const QString& server, std::int32_t port) {
    SocketEntry* e = entry(index);
    if (e == nullptr) {
        return;
    }
    // A new attempt: an answer still due for an earlier one, and the readiness of an earlier
    // connection, belong to nobody now.
    renew(*e);
    unwatch(index);
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
        AllocateEntry(index);
    }
    e->SendBuffer.clear();
    e->RecvBuffer.clear();
    e->PeerClosed = false;
    e->RateLimited = 0;
    e->State = EntryState::Idle;

    // SOCKS4 speaks IPv4 only, to its server as well.
    const bool ipv4Only = e->UseSocks;
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

void VelmoraSockets::lookUp(int index, const QString& name, int family, LookedUp then) {
    const std::uint64_t generation = entry(index)->generation;
    auto answered = [this, index, generation, name, family, then](const HostAddresses& found) {
        SocketEntry* e = entry(index);
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

void VelmoraSockets::connectLookedUp(int index, const std::vector<sockaddr_storage>& found,
                                     std::int32_t port) {
    if (!found.empty()) {
        SocketEntry* e = entry(index);
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
        << "entry " << index << ": reported as WinSock error " << WinSock::AddressNotAvailable;
    SocketEntry* e = entry(index);
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
    }
    e = entry(index);
    if (e == nullptr || e->InUse == 0) {
        return;
    }
    if (!e->Handle.valid()) {
        AllocateEntry(index);
    }
    e->State = EntryState::Failed;
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
    }
}

void VelmoraSockets::connectTo(int index, const sockaddr_storage& target) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr && e->InUse != 0);
    // The socket made in advance is IPv4: an IPv6 address needs another.
    if (e->Handle.valid() && SocketFamily(e->Handle.get()) != target.ss_family) {
        openHandle(index, target.ss_family);
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
        watch(index);
        e->connectPending = true;
        if (!e->fallbacks.empty()) {
            // An address that never answers must not use up the time the others have.
            const std::uint64_t generation = e->generation;
            QTimer::singleShot(AttemptWaitMs, this, [this, index, generation] {
                SocketEntry* now = entry(index);
                if (now != nullptr && now->generation == generation && now->connectPending) {
                    qCInfo(lcNet).nospace().noquote()
                        << "entry " << index << ": no answer from " << AddressText(now->remote)
                        << " within " << AttemptWaitMs << " ms; trying the next address";
                    tryNextAddress(index);
                }
            });
        }
        return;
    }
    if (!e->fallbacks.empty()) {
        qCInfo(lcNet).nospace().noquote()
            << "entry " << index << ": connect to " << AddressText(e->remote)
            << " failed at once (WinSock error " << WinSockErrorFromErrno(error)
            << "); trying the next address";
        tryNextAddress(index);
        return;
    }
    // Whatever stopped it, the owner hears "address not available", as it always has.
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": connect to " << AddressText(e->remote)
        << " failed at once (WinSock error " << WinSockErrorFromErrno(error) << "), reported as "
        << WinSock::AddressNotAvailable;
    e->State = EntryState::Failed;
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
    }
}

void VelmoraSockets::tryNextAddress(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr && !e->fallbacks.empty());
    const sockaddr_storage next = e->fallbacks.front();
    e->fallbacks.erase(e->fallbacks.begin());
    // A fresh socket: the failed one is done with, and its readiness must reach nobody.
    openHandle(index, next.ss_family);
    connectTo(index, next);
}

void VelmoraSockets::socksConnected(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr);
    e->State = EntryState::SocksRequested;
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": reached the SOCKS server, asking for " << e->TargetHost << ":"
        << e->TargetPort;
    // SOCKS4 carries an address: a target given by name is looked up here, not by the server.
    if (RoundHalfEven(LeadingNumber(e->TargetHost.split(u'.').first())) != 0) {
        socksRequest(index);
        return;
    }
    lookUp(index, e->TargetHost, AF_INET,
           [this](int i, const std::vector<sockaddr_storage>& found) {
               socksTargetLookedUp(i, found);
           });
}

void VelmoraSockets::socksTargetLookedUp(int index, const std::vector<sockaddr_storage>& found) {
    SocketEntry* e = entry(index);
    if (e->State != EntryState::SocksRequested) {
        // The server closed the connection, or it failed, while the name was looked up.
        return;
    }
    if (!found.empty()) {
        e->TargetHost = AddressText(found.front());  // IPv4 only, without a port
    }
    socksRequest(index);
}

void VelmoraSockets::socksRequest(int index) {
    SocketEntry* e = entry(index);
    const QStringList parts = e->TargetHost.split(u'.');
    if (parts.size() != 4) {
        e->LastError = WinSock::AddressNotAvailable;
        e->State = EntryState::Failed;
        if (e->Owner) {
            e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
        }
        return;
    }
    QByteArray request;
    request.append(char(4)).append(char(1));
    request.append(char((e->TargetPort >> 8) & 0xFF)).append(char(e->TargetPort & 0xFF));
    for (const QString& part : parts) {
        request.append(char(static_cast<int>(RoundHalfEven(LeadingNumber(part))) & 0xFF));
    }
    request.append(char(0));
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": SOCKS4 request for " << e->TargetHost << ":" << e->TargetPort;
    e->SendBuffer = request;
    FlushSend(index);
}

void VelmoraSockets::socksReplied(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr);
    // The reply is eight bytes; its verdict is the second.
    if (e->RecvBuffer.size() < 2) {
        return;
    }
    if (static_cast<unsigned char>(e->RecvBuffer[1]) != 90) {
        qCInfo(lcNet).nospace().noquote()
            << "entry " << index << ": the SOCKS server refused " << e->TargetHost << ":"
            << e->TargetPort << " (reply "
            << static_cast<int>(static_cast<unsigned char>(e->RecvBuffer[1])) << ")";
        e->LastError = 0;
        e->State = EntryState::Failed;
        if (e->Owner) {
            e->Owner->RaiseError(0, nullptr);
        }
        return;
    }
    if (e->RecvBuffer.size() < 8) {
        return;
    }
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": the SOCKS server granted "
                                      << e->TargetHost << ":" << e->TargetPort;
    // Whatever the target sent right behind the grant (an FTP greeting) is kept for its owner.
    e->RecvBuffer.remove(0, 8);
    e->State = EntryState::Connected;
    e->SendBuffer.clear();
    e->UseSocks = false;
    if (!e->TlsServerName.isEmpty()) {
        // The server speaks first in TLS only after the client's hello: nothing came early.
        Q_ASSERT(e->RecvBuffer.isEmpty());
        e->RecvBuffer.clear();
        startTls(index);
        return;
    }
    handOverThroughProxy(index);
}

void VelmoraSockets::handOverThroughProxy(int index) {
    SocketEntry* e = entry(index);
    const auto early = static_cast<std::int32_t>(e->RecvBuffer.size());
    const std::uint64_t generation = e->generation;
    if (e->Owner) {
        e->Owner->RaiseConnect(nullptr);
    }
    e = entry(index);
    if (early > 0 && e != nullptr && e->generation == generation && e->Owner) {
        e->Owner->RaiseDataReceived(early, nullptr);
    }
}

void VelmoraSockets::connectionUp(int index) {
    SocketEntry* e = entry(index);
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

void VelmoraSockets::startTls(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr && e->Handle.valid() && !e->Tls);
    Q_ASSERT(e->readReady && e->writeReady);
    e->State = EntryState::Connecting;
    e->Tls =
        std::make_unique<TlsConnection>(*tls_, e->Handle.get(), e->TlsServerName, e->TargetPort);
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": TLS handshake with "
                                      << e->TlsServerName << ":" << e->TargetPort << " started";
    tlsStep(index);
}

void VelmoraSockets::tlsStep(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr && e->Tls && !e->Tls->handshakeDone());
    switch (e->Tls->handshake()) {
        case TlsConnection::Outcome::Again:
            // Only the readiness TLS asks for: the other would wake the loop for nothing.
            e->readReady->setEnabled(e->Tls->wait() == TlsConnection::Wait::Read);
            e->writeReady->setEnabled(e->Tls->wait() == TlsConnection::Wait::Write);
            return;
        case TlsConnection::Outcome::Done:
            break;
        case TlsConnection::Outcome::Closed:
        case TlsConnection::Outcome::Failed:
            tlsFailed(index);
            return;
    }
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": TLS with " << e->TlsServerName
                                      << " established (" << e->Tls->description() << ")";
    e->TlsPeerFingerprint = e->Tls->peerFingerprint();
    e->State = EntryState::Connected;
    e->readReady->setEnabled(true);
    const std::uint64_t generation = e->generation;
    if (e->Owner) {
        e->Owner->RaiseConnect(nullptr);
    }
    e = entry(index);
    if (e == nullptr || e->generation != generation) {
        return;
    }
    FlushSend(index);
    updateWriteInterest(index);
    if (e->Tls->pending()) {
        readAgainLater(index);
    }
}

void VelmoraSockets::tlsFailed(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr && e->Tls);
    e->TlsFailureCause = e->Tls->failure();
    if (!e->TlsFailureCause.failed()) {
        e->TlsFailureCause = {TlsFailure::Reason::Other, QStringLiteral("no handshake")};
    }
    e->TlsProblem = TlsFailureText(e->TlsFailureCause, e->TlsServerName);
    e->TlsPeerFingerprint = e->Tls->peerFingerprint();
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": TLS handshake failed: " << e->TlsProblem
        << ", reported as WinSock error " << WinSock::TlsFailed;
    e->readReady->setEnabled(false);
    e->writeReady->setEnabled(false);
    HandleSocketEvent(index, SocketEvent::ConnectCompleted, WinSock::TlsFailed);
}
