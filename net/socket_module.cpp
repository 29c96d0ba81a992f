#include "net/socket_module.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>
#include <cerrno>

#include "core/diagnostics/log_categories.h"
#include "core/types/tick.h"
#include "core/types/vb_convert.h"
#include "net/socket_class.h"
#include "net/winsock_errors.h"

namespace {

// A closed standard descriptor would let a socket take its number, and whatever the program
// then printed or logged would go to a server.
void KeepStandardDescriptorsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
        }
    }
}

}  // namespace

VelmoraSockets::VelmoraSockets(QObject* parent)
    : QObject(parent),
      tls_(std::make_unique<TlsContext>()),
      SocketTable(1),
      tick_(MillisecondTick) {}

VelmoraSockets::~VelmoraSockets() {
    StopSockets();
}

void VelmoraSockets::StartSockets() {
    KeepStandardDescriptorsOpen();
    count_ = 0;
    SocketTable.clear();
    SocketTable.emplace_back();
    started_ = true;
}

void VelmoraSockets::StopSockets() {
    if (!started_) {
        return;
    }
    started_ = false;
    for (int i = 1; i <= count_; ++i) {
        SocketEntry& e = SocketTable[static_cast<size_t>(i)];
        if (e.InUse != 0) {
            e.Owner = nullptr;
        }
        // Every OS socket belongs to the table; none outlives it, and no answer still due finds
        // a connection to go on with.
        dropHandle(i);
    }
}

SocketEntry* VelmoraSockets::entry(int index) {
    return index >= 1 && index <= count_ ? &SocketTable[static_cast<size_t>(index)] : nullptr;
}

QString VelmoraSockets::PeerAddress(int index) const {
    if (index < 1 || index >= static_cast<int>(SocketTable.size())) {
        return QString();
    }
    const SocketEntry& e = SocketTable[static_cast<std::size_t>(index)];
    if (e.UseSocks) {
        return e.TargetHost;
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (!e.Handle.valid() ||
        ::getpeername(e.Handle.get(), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        (peer.ss_family != AF_INET && peer.ss_family != AF_INET6)) {
        return QString();
    }
    // Without the port, and an IPv6 address without brackets: callers connect to it again.
    return AddressText(WithPort(peer, 0));
}

int VelmoraSockets::FindEntryByHandle(int handle) const {
    for (int i = 1; i <= count_; ++i) {
        const SocketEntry& e = SocketTable[static_cast<size_t>(i)];
        if (e.InUse != 0 && e.Handle.valid() && e.Handle.get() == handle) {
            return i;
        }
    }
    return 0;
}

int VelmoraSockets::AllocateEntry(int index) {
    if (index == 0) {
        for (int i = 1; i <= count_ && index == 0; ++i) {
            if (SocketTable[static_cast<size_t>(i)].InUse == 0) {
                index = i;
            }
        }
        if (index == 0) {
            SocketTable.emplace_back();
            index = ++count_;
        }
    }
    SocketEntry* e = entry(index);
    if (e == nullptr) {
        return 0;
    }
    e->InUse = -1;
    // IPv4 until a connect says otherwise: each connect attempt makes the socket its address needs.
    openHandle(index, AF_INET);
    e->fallbacks.clear();
    e->State = EntryState::Idle;
    e->LastError = 0;
    e->SendBuffer.clear();
    e->RecvBuffer.clear();
    e->RateLimited = 0;
    return index;
}

void VelmoraSockets::openHandle(int index, int family) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr);
    unwatch(index);
    // The old socket goes first, so a busy program never holds both.
    e->Tls.reset();
    e->Handle.reset();
    renew(*e);
    e->Handle.reset(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    e->RecvSize = 65536;
    if (e->Handle.valid()) {
        int size = 0;
        socklen_t length = sizeof(size);
        if (::getsockopt(e->Handle.get(), SOL_SOCKET, SO_RCVBUF, &size, &length) == 0 && size > 0) {
            e->RecvSize = size;
        }
    }
}

void VelmoraSockets::dropHandle(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr);
    unwatch(index);
    // TLS works on the socket: it goes before it.
    e->Tls.reset();
    e->readAgain = false;
    e->Handle.reset();
    e->fallbacks.clear();
    renew(*e);
}

void VelmoraSockets::CloseEntry(int index) {
    if (SocketEntry* e = entry(index)) {
        if (e->Tls) {
            e->Tls->shutdown();  // a polite close_notify, never waited for
        }
        e->TlsServerName.clear();
        e->Tunnel = {};
        dropHandle(index);
        e->InUse = -1;
        e->State = EntryState::Idle;
    }
}

void VelmoraSockets::ReleaseEntry(int index) {
    if (SocketEntry* e = entry(index)) {
        e->TlsServerName.clear();
        e->Tunnel = {};
        dropHandle(index);
        e->InUse = 0;
        // A free entry has no owner: the next object to take it becomes the only one.
        e->Owner = nullptr;
    }
}

void VelmoraSockets::QueueSend(int index, const QByteArray& data) {
    SocketEntry* e = entry(index);
    if (e == nullptr) {
        return;
    }
    e->SendBuffer += data;
    FlushSend(index);
}

void VelmoraSockets::FlushSend(int index) {
    SocketEntry* e = entry(index);
    if (e == nullptr || !e->Handle.valid() || e->SendBuffer.isEmpty()) {
        return;
    }
    if (e->Tls) {
        // What is queued during the handshake goes once it is done.
        if (e->Tls->handshakeDone()) {
            std::int64_t written = 0;
            while (!e->SendBuffer.isEmpty() &&
                   e->Tls->write(e->SendBuffer.constData(), e->SendBuffer.size(), written) ==
                       TlsConnection::Outcome::Done) {
                e->SendBuffer.remove(0, static_cast<qsizetype>(written));
            }
            if (e->Tls->broken()) {
                // Reported by the read path, as a plain connection's broken send is.
                readAgainLater(index);
            }
        }
        updateWriteInterest(index);
        return;
    }
    ssize_t sent;
    do {
        sent = ::send(e->Handle.get(), e->SendBuffer.constData(),
                      static_cast<size_t>(e->SendBuffer.size()), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent >= e->SendBuffer.size()) {
        e->SendBuffer.clear();
    } else if (sent > 0) {
        e->SendBuffer.remove(0, sent);
    }
    // Errors stay silent here; a broken connection shows up as a notification.
    updateWriteInterest(index);
}

std::int32_t VelmoraSockets::LimitedReadSize(std::int32_t recvSize) {
    // Unsigned difference: the tick wraps after 49.7 days.
    std::uint32_t elapsed =
        static_cast<std::uint32_t>(tick_()) - static_cast<std::uint32_t>(LimiterLastTick);
    if (elapsed > 100000) {
        elapsed = 10;
    }
    if (elapsed == 0 && LimiterCarry == 0) {
        return 0;
    }
    const auto allowance = static_cast<std::int64_t>(
        RoundHalfEven(static_cast<long double>(elapsed) / 1000 * limits_.SpeedLimiter));
    const std::int64_t budget = allowance + LimiterCarry;
    if (budget <= 0) {
        // Less than a byte is due: keep the clock where it was so the allowance can build up,
        // rather than reading without a limit.
        return 0;
    }
    LimiterLastTick = tick_();
    if (budget > recvSize) {
        LimiterCarry =
            static_cast<std::int32_t>(std::min<std::int64_t>(budget - recvSize, INT32_MAX));
        return recvSize;
    }
    LimiterCarry = 0;
    return static_cast<std::int32_t>(budget);
}

void VelmoraSockets::ReceiveNow(int index) {
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0 || !e->Handle.valid()) {
        return;
    }
    if (e->Tls && !e->Tls->handshakeDone()) {
        e->lastRead = ReadOutcome::WouldBlock;  // the handshake reads for itself
        return;
    }
    std::int32_t size = e->RecvSize;
    const bool limited = e->RateLimited != 0 && limits_.UseSpeedLimiter && limits_.SpeedLimiter > 0;
    if (limited) {
        size = LimitedReadSize(e->RecvSize);
        if (size == 0) {
            e->lastRead = ReadOutcome::Deferred;
            return;
        }
    }
    const qsizetype before = e->RecvBuffer.size();
    e->RecvBuffer.resize(before + size);
    ssize_t n;
    if (e->Tls) {
        n = static_cast<ssize_t>(tlsReceive(*e, e->RecvBuffer.data() + before, size));
    } else {
        do {
            n = ::recv(e->Handle.get(), e->RecvBuffer.data() + before, static_cast<size_t>(size),
                       0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            e->lastReadError = errno == EAGAIN || errno == EWOULDBLOCK
                                   ? WinSock::WouldBlock
                                   : WinSockErrorFromErrno(errno);
        }
    }
    e->RecvBuffer.resize(before + std::max<ssize_t>(n, 0));
    if (limited && n < size) {
        // The OS had less than was allowed: what was not read stays allowed, or the transfer
        // falls short of the limit whenever the sender is slower than the reads.
        LimiterCarry += size - static_cast<std::int32_t>(std::max<ssize_t>(n, 0));
    }
    if (n < 0) {
        const bool wouldBlock = e->lastReadError == WinSock::WouldBlock;
        e->lastRead = wouldBlock ? ReadOutcome::WouldBlock : ReadOutcome::Failed;
        if (wouldBlock) {
            e->lastReadError = 0;
        }
        return;
    }
    if (n == 0) {
        e->PeerClosed = true;
        e->State = EntryState::Connected;
        e->lastRead = ReadOutcome::PeerClosed;
        return;
    }
    e->lastRead = ReadOutcome::Data;
    const std::uint64_t generation = e->generation;
    if (!e->UseSocks && e->Owner) {
        e->Owner->RaiseDataReceived(static_cast<std::int32_t>(n), nullptr);
        e = entry(index);
    }
    if (e != nullptr && e->generation == generation) {
        e->PeerClosed = false;
        e->State = EntryState::Receiving;
    }
}

void VelmoraSockets::HandleSocketEvent(int index, int event, int error) {
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0) {
        return;
    }
    Q_ASSERT(!e->Owner || e->Owner->SocketIndex == index);
    // An error wins over the kind of event: a failed close or connect is an Error only.
    if (error >= 1) {
        e->LastError = error;
        e->State = EntryState::Failed;
        if (e->Owner) {
            e->Owner->RaiseError(error, nullptr);
        }
        return;
    }
    switch (event) {
        case SocketEvent::Readable:
            ReceiveNow(index);
            if (SocketEntry* now = entry(index); now != nullptr && now->UseSocks) {
                socksReplied(index);
            }
            break;
        case SocketEvent::Writable:
            if (!e->SendBuffer.isEmpty()) {
                FlushSend(index);
            }
            break;
        case SocketEvent::ConnectCompleted:
            if (e->UseSocks) {
                socksConnected(index);
            } else {
                connectionUp(index);
            }
            break;
        case SocketEvent::PeerClosed:
            e->State = EntryState::Idle;
            if (e->Owner) {
                e->Owner->RaiseClosed(nullptr);
            }
            break;
        default:
            break;
    }
}

void VelmoraSockets::PumpSockets() {
    // Pending notifications go first: the scan runs when the event loop has delivered them.
    QTimer::singleShot(0, this, [this] {
        for (int i = 1; i <= count_; ++i) {
            SocketEntry& e = SocketTable[static_cast<size_t>(i)];
            const bool deferred = e.lastRead == ReadOutcome::Deferred;
            if (e.InUse != 0 && e.Handle.valid() &&
                ((e.State == EntryState::Receiving && !e.PeerClosed) || deferred)) {
                if (e.readReady) {
                    e.readReady->setEnabled(true);
                }
                onReadable(i);
            }
        }
    });
}

void VelmoraSockets::watch(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr);
    unwatch(index);
    if (!e->Handle.valid()) {
        return;
    }
    // Parented as well: a notifier retired late is deleted with the module at the latest.
    e->readReady.reset(new QSocketNotifier(e->Handle.get(), QSocketNotifier::Read, this));
    e->writeReady.reset(new QSocketNotifier(e->Handle.get(), QSocketNotifier::Write, this));
    // Reads start once the connection stands; writes are watched while something waits.
    e->readReady->setEnabled(false);
    connect(e->readReady.get(), &QSocketNotifier::activated, this,
            [this, index] { onReadable(index); });
    connect(e->writeReady.get(), &QSocketNotifier::activated, this,
            [this, index] { onWritable(index); });
}

void VelmoraSockets::unwatch(int index) {
    SocketEntry* e = entry(index);
    Q_ASSERT(e != nullptr);
    e->readReady.reset();
    e->writeReady.reset();
    e->connectPending = false;
    e->lastRead = ReadOutcome::WouldBlock;
}

void VelmoraSockets::updateWriteInterest(int index) {
    SocketEntry* e = entry(index);
    if (e == nullptr || !e->writeReady) {
        return;
    }
    if (e->Tls && !e->connectPending) {
        // TLS says what it waits for: a write waiting for the peer's data must not spin.
        const TlsConnection::Wait wait = e->Tls->wait();
        e->writeReady->setEnabled(!e->Tls->broken() &&
                                  (wait == TlsConnection::Wait::Write ||
                                   (e->Tls->handshakeDone() && wait != TlsConnection::Wait::Read &&
                                    !e->SendBuffer.isEmpty())));
        return;
    }
    e->writeReady->setEnabled(e->connectPending || !e->SendBuffer.isEmpty());
}

void VelmoraSockets::onWritable(int index) {
    Q_ASSERT(index >= 1 && index <= count_);
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0 || !e->Handle.valid()) {
        return;
    }
    Q_ASSERT(e->readReady && e->writeReady);
    const std::uint64_t generation = e->generation;
    if (!e->connectPending && e->Tls && !e->Tls->handshakeDone()) {
        tlsStep(index);
        return;
    }
    if (!e->connectPending && e->Tls && e->Tls->wait() == TlsConnection::Wait::Write &&
        e->SendBuffer.isEmpty()) {
        // A read that had to send first (a key update): it goes on now.
        onReadable(index);
        return;
    }
    if (!e->connectPending) {
        HandleSocketEvent(index, SocketEvent::Writable, 0);
        updateWriteInterest(index);
        return;
    }
    e->connectPending = false;
    int error = 0;
    socklen_t length = sizeof(error);
    ::getsockopt(e->Handle.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        qCInfo(lcNet).nospace().noquote()
            << "entry " << index << ": connect to " << AddressText(e->remote)
            << " failed, WinSock error " << WinSockErrorFromErrno(error)
            << (e->fallbacks.empty() ? "" : "; trying the next address");
        if (!e->fallbacks.empty()) {
            tryNextAddress(index);  // the owner hears only when every address has failed
            return;
        }
        e->writeReady->setEnabled(false);
        HandleSocketEvent(index, SocketEvent::ConnectCompleted, WinSockErrorFromErrno(error));
        return;
    }
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": connected to " << AddressText(e->remote);
    e->fallbacks.clear();
    e->readReady->setEnabled(true);
    HandleSocketEvent(index, SocketEvent::ConnectCompleted, 0);
    // The connection may have been closed or replaced by the handler.
    e = entry(index);
    if (e != nullptr && e->generation == generation) {
        if (!e->SendBuffer.isEmpty()) {
            HandleSocketEvent(index, SocketEvent::Writable, 0);
        }
        updateWriteInterest(index);
    }
}

void VelmoraSockets::onReadable(int index) {
    Q_ASSERT(index >= 1 && index <= count_);
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0 || !e->Handle.valid()) {
        return;
    }
    if (e->Tls && !e->Tls->handshakeDone()) {
        tlsStep(index);
        return;
    }
    if (e->Tunnel.phase == HttpTunnel::Phase::Requested) {
        tunnelReadable(index);
        return;
    }
    const std::uint64_t generation = e->generation;
    HandleSocketEvent(index, SocketEvent::Readable, 0);
    e = entry(index);
    if (e == nullptr || e->generation != generation || e->InUse == 0) {
        return;
    }
    // Only a connection that was watched gets this far: its notifiers are there to quieten.
    Q_ASSERT(e->lastRead == ReadOutcome::Data || e->lastRead == ReadOutcome::WouldBlock ||
             (e->readReady && e->writeReady));
    switch (e->lastRead) {
        case ReadOutcome::Deferred:
            // The limiter holds this socket back; the pump reads it on the next tick.
            e->readReady->setEnabled(false);
            break;
        case ReadOutcome::PeerClosed:
            qCInfo(lcNet).nospace().noquote() << "entry " << index << ": closed by the peer"
                                              << (!e->Tls               ? ""
                                                  : e->TlsClosedCleanly ? " (TLS close_notify)"
                                                                        : " (no TLS close_notify)");
            e->readReady->setEnabled(false);
            e->writeReady->setEnabled(false);
            HandleSocketEvent(index, SocketEvent::PeerClosed, 0);
            break;
        case ReadOutcome::Failed:
            qCInfo(lcNet).nospace().noquote()
                << "entry " << index << ": connection lost, WinSock error " << e->lastReadError
                << (e->TlsProblem.isEmpty() ? QString() : QStringLiteral(": ") + e->TlsProblem);
            e->readReady->setEnabled(false);
            e->writeReady->setEnabled(false);
            HandleSocketEvent(index, SocketEvent::PeerClosed, e->lastReadError);
            break;
        case ReadOutcome::Data:
            if (e->readAgain) {
                e->readAgain = false;
                readAgainLater(index);
            }
            if (e->Tls && !e->SendBuffer.isEmpty()) {
                FlushSend(index);  // a write that waited for the peer's data
            }
            break;
        case ReadOutcome::WouldBlock:
            if (e->Tls && !e->SendBuffer.isEmpty()) {
                FlushSend(index);
            }
            break;
    }
}

std::int64_t VelmoraSockets::tlsReceive(SocketEntry& e, char* into, std::int32_t size) {
    Q_ASSERT(e.Tls && e.Tls->handshakeDone());
    // TLS hands out one record per read: the reads go on until the size asked for is there,
    // as one recv would take whatever the socket holds.
    std::int64_t total = 0;
    TlsConnection::Outcome outcome = TlsConnection::Outcome::Done;
    while (total < size) {
        std::int64_t got = 0;
        outcome = e.Tls->read(into + total, size - total, got);
        if (outcome != TlsConnection::Outcome::Done) {
            break;
        }
        total += got;
    }
    if (outcome == TlsConnection::Outcome::Closed) {
        e.TlsClosedCleanly = e.Tls->closedCleanly();
    }
    if (total > 0) {
        // An end behind the data is read, and reported, next time.
        e.readAgain = e.Tls->pending() || outcome == TlsConnection::Outcome::Closed ||
                      outcome == TlsConnection::Outcome::Failed;
        return total;
    }
    switch (outcome) {
        case TlsConnection::Outcome::Closed:
            return 0;
        case TlsConnection::Outcome::Failed:
            e.TlsProblem = e.Tls->problem();
            e.TlsFailureCause = e.Tls->failure();
            e.lastReadError = e.Tls->systemError() != 0
                                  ? WinSockErrorFromErrno(e.Tls->systemError())
                                  : WinSock::TlsFailed;
            return -1;
        default:
            e.lastReadError = WinSock::WouldBlock;
            return -1;
    }
}

void VelmoraSockets::readAgainLater(int index) {
    const std::uint64_t generation = entry(index)->generation;
    QTimer::singleShot(0, this, [this, index, generation] {
        SocketEntry* e = entry(index);
        if (e != nullptr && e->generation == generation && e->InUse != 0 && e->Handle.valid()) {
            onReadable(index);
        }
    });
}

void VelmoraSockets::SetEntryTls(int index, const QString& serverName) {
    if (SocketEntry* e = entry(index)) {
        e->TlsServerName = serverName;
    }
}

void VelmoraSockets::setTlsCaFile(const QString& file) {
    TlsSettings s = tls_->settings();
    s.caFile = file;
    tls_->setSettings(std::move(s));
}

void VelmoraSockets::setTlsVerify(bool verify) {
    TlsSettings s = tls_->settings();
    s.verify = verify;
    tls_->setSettings(std::move(s));
}

void VelmoraSockets::setTlsTrusted(const QList<QPair<QString, QByteArray>>& trusted) {
    TlsSettings s = tls_->settings();
    s.trusted = trusted;
    tls_->setSettings(std::move(s));
}

void VelmoraSockets::trustTlsCertificate(const QString& host, const QByteArray& fingerprint) {
    TlsSettings s = tls_->settings();
    // One certificate per host: a changed one replaces the one trusted before.
    s.trusted.removeIf([&host](const QPair<QString, QByteArray>& trusted) {
        return trusted.first.compare(host, Qt::CaseInsensitive) == 0;
    });
    s.trusted.append({host, fingerprint});
    tls_->setSettings(std::move(s));
}
