#include "net/socket_module.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>
#include <cerrno>

#include "core/types/tick.h"
#include "core/types/vb_convert.h"
#include "net/socket_class.h"
#include "net/winsock_errors.h"

namespace {

// A closed standard descriptor would let a socket get handle 0, which means "no socket".
void KeepStandardDescriptorsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
        }
    }
}

}  // namespace

VelmoraSockets::VelmoraSockets(QObject* parent)
    : QObject(parent), SocketTable(1), tick_(MillisecondTick) {}

VelmoraSockets::~VelmoraSockets() {
    StopSockets();
}

void VelmoraSockets::StartSockets() {
    KeepStandardDescriptorsOpen();
    count_ = 0;
    SocketTable.assign(1, SocketEntry{});
    started_ = true;
}

void VelmoraSockets::StopSockets() {
    if (!started_) {
        return;
    }
    started_ = false;
    for (int i = 1; i <= count_; ++i) {
        SocketEntry& e = SocketTable[i];
        if (e.InUse != 0) {
            e.Owner = nullptr;
        }
        // Every OS socket belongs to the table; none outlives it.
        unwatch(i);
        if (e.Handle != 0) {
            ::close(e.Handle);
            e.Handle = 0;
        }
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
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (e.Handle == 0 ||
        ::getpeername(e.Handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET) {
        return QString();
    }
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    return QString::fromLatin1(dotted);
}

int VelmoraSockets::FindEntryByHandle(int handle) const {
    for (int i = 1; i <= count_; ++i) {
        const SocketEntry& e = SocketTable[static_cast<size_t>(i)];
        if (e.InUse != 0 && e.Handle == handle) {
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
    unwatch(index);
    if (e->Handle != 0) {
        ::close(e->Handle);
    }
    e->InUse = -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    e->Handle = fd > 0 ? fd : 0;
    e->State = EntryState::Idle;
    e->LastError = 0;
    e->SendBuffer.clear();
    e->RecvBuffer.clear();
    e->RateLimited = 0;
    e->RecvSize = 65536;
    if (e->Handle != 0) {
        int size = 0;
        socklen_t length = sizeof(size);
        if (::getsockopt(e->Handle, SOL_SOCKET, SO_RCVBUF, &size, &length) == 0 && size > 0) {
            e->RecvSize = size;
        }
    }
    return index;
}

void VelmoraSockets::dropHandle(int index) {
    SocketEntry* e = entry(index);
    unwatch(index);
    if (e->Handle != 0) {
        ::close(e->Handle);
    }
    e->Handle = 0;
}

void VelmoraSockets::CloseEntry(int index) {
    if (SocketEntry* e = entry(index)) {
        dropHandle(index);
        e->InUse = -1;
        e->State = EntryState::Idle;
    }
}

void VelmoraSockets::ReleaseEntry(int index) {
    if (SocketEntry* e = entry(index)) {
        dropHandle(index);
        e->InUse = 0;
    }
}

std::uint32_t VelmoraSockets::ResolveHost(const QString& name, QString& dotted) const {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (name.isEmpty() || ::getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &result) != 0 ||
        result == nullptr) {
        return 0;
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    const std::uint32_t networkOrder = address->sin_addr.s_addr;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text));
    ::freeaddrinfo(result);
    dotted = QString::fromLatin1(text);
    return networkOrder;
}

void VelmoraSockets::ConnectEntry(int index, const QString& server, std::int32_t port) {
    SocketEntry* e = entry(index);
    if (e == nullptr) {
        return;
    }
    e->State = EntryState::Idle;
    QString host = server;
    if (e->UseSocks) {
        e->TargetHost = server;
        e->TargetPort = port;
        host = e->SocksServer;
        port = e->SocksPort;
    }

    in_addr address{};
    bool known = ::inet_aton(host.toLatin1().constData(), &address) != 0;
    if (!known) {
        QString dotted;
        address.s_addr = ResolveHost(host, dotted);
        known = address.s_addr != 0;
        if (!known && e->Owner) {
            e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
        }
        e = entry(index);
        if (e == nullptr || e->InUse == 0) {
            return;
        }
    }

    if (e->Handle == 0) {
        AllocateEntry(index);
    }
    e->SendBuffer.clear();
    e->RecvBuffer.clear();
    e->PeerClosed = false;
    e->RateLimited = 0;
    e->State = EntryState::Idle;

    int result = -1;
    if (known && e->Handle != 0) {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<std::uint16_t>(port));
        target.sin_addr = address;
        do {
            result =
                ::connect(e->Handle, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
        } while (result != 0 && errno == EINTR);
    }
    // An unresolved name never reaches the OS: connecting to 0.0.0.0 would reach this machine.
    if (result == 0 || (known && (errno == EINPROGRESS || errno == EWOULDBLOCK))) {
        if (result == 0) {
            e->InUse = 1;
            e->State = EntryState::Connected;
        } else {
            e->State = EntryState::Connecting;
        }
        // Completion is reported by the first writable notification, in both cases.
        watch(index);
        e->connectPending = true;
        return;
    }
    e->State = EntryState::Failed;
    if (e->Owner) {
        e->Owner->RaiseError(WinSock::AddressNotAvailable, nullptr);
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
    if (e == nullptr || e->Handle == 0 || e->SendBuffer.isEmpty()) {
        return;
    }
    ssize_t sent;
    do {
        sent = ::send(e->Handle, e->SendBuffer.constData(),
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
    if (e == nullptr || e->InUse == 0 || e->Handle == 0) {
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
    do {
        n = ::recv(e->Handle, e->RecvBuffer.data() + before, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    e->RecvBuffer.resize(before + std::max<ssize_t>(n, 0));
    if (limited && n < size) {
        // The OS had less than was allowed: what was not read stays allowed, or the transfer
        // falls short of the limit whenever the sender is slower than the reads.
        LimiterCarry += size - static_cast<std::int32_t>(std::max<ssize_t>(n, 0));
    }
    if (n < 0) {
        const bool wouldBlock = errno == EAGAIN || errno == EWOULDBLOCK;
        e->lastRead = wouldBlock ? ReadOutcome::WouldBlock : ReadOutcome::Failed;
        e->lastReadErrno = wouldBlock ? 0 : errno;
        return;
    }
    if (n == 0) {
        e->PeerClosed = true;
        e->State = EntryState::Connected;
        e->lastRead = ReadOutcome::PeerClosed;
        return;
    }
    e->lastRead = ReadOutcome::Data;
    const int handle = e->Handle;
    if (!e->UseSocks && e->Owner) {
        e->Owner->RaiseDataReceived(static_cast<std::int32_t>(n), nullptr);
        e = entry(index);
    }
    if (e != nullptr && e->Handle == handle && handle != 0) {
        e->PeerClosed = false;
        e->State = EntryState::Receiving;
    }
}

void VelmoraSockets::HandleSocketEvent(int index, int event, int error) {
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0) {
        return;
    }
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
                e->State = EntryState::Connected;
                if (e->Owner) {
                    e->Owner->RaiseConnect(nullptr);
                }
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

void VelmoraSockets::socksConnected(int index) {
    SocketEntry* e = entry(index);
    e->State = EntryState::SocksRequested;
    QStringList parts = e->TargetHost.split(u'.');
    if (RoundHalfEven(LeadingNumber(parts.first())) == 0) {
        QString dotted;
        if (ResolveHost(e->TargetHost, dotted) != 0) {
            e->TargetHost = dotted;
            parts = dotted.split(u'.');
        }
    }
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
    e->SendBuffer = request;
    FlushSend(index);
}

void VelmoraSockets::socksReplied(int index) {
    SocketEntry* e = entry(index);
    // The reply is eight bytes; its verdict is the second.
    if (e->RecvBuffer.size() < 2) {
        return;
    }
    if (static_cast<unsigned char>(e->RecvBuffer[1]) != 90) {
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
    // Whatever the target sent right behind the grant (an FTP greeting) is kept for its owner.
    e->RecvBuffer.remove(0, 8);
    const auto early = static_cast<std::int32_t>(e->RecvBuffer.size());
    e->State = EntryState::Connected;
    e->SendBuffer.clear();
    e->UseSocks = false;
    const int handle = e->Handle;
    if (e->Owner) {
        e->Owner->RaiseConnect(nullptr);
    }
    e = entry(index);
    if (early > 0 && e != nullptr && e->Handle == handle && e->Owner) {
        e->Owner->RaiseDataReceived(early, nullptr);
    }
}

void VelmoraSockets::PumpSockets() {
    // Pending notifications go first: the scan runs when the event loop has delivered them.
    QTimer::singleShot(0, this, [this] {
        for (int i = 1; i <= count_; ++i) {
            SocketEntry& e = SocketTable[static_cast<size_t>(i)];
            const bool deferred = e.lastRead == ReadOutcome::Deferred;
            if (e.InUse != 0 && e.Handle != 0 &&
                ((e.State == EntryState::Receiving && !e.PeerClosed) || deferred)) {
                if (e.readReady != nullptr) {
                    e.readReady->setEnabled(true);
                }
                onReadable(i);
            }
        }
    });
}

void VelmoraSockets::watch(int index) {
    SocketEntry* e = entry(index);
    unwatch(index);
    if (e->Handle == 0) {
        return;
    }
    e->readReady = new QSocketNotifier(e->Handle, QSocketNotifier::Read, this);
    e->writeReady = new QSocketNotifier(e->Handle, QSocketNotifier::Write, this);
    // Reads start once the connection stands; writes are watched while something waits.
    e->readReady->setEnabled(false);
    connect(e->readReady, &QSocketNotifier::activated, this, [this, index] { onReadable(index); });
    connect(e->writeReady, &QSocketNotifier::activated, this, [this, index] { onWritable(index); });
}

void VelmoraSockets::unwatch(int index) {
    SocketEntry* e = entry(index);
    if (e == nullptr) {
        return;
    }
    // Notifiers may be retired from inside their own signal: let the event loop delete them.
    for (QSocketNotifier** n : {&e->readReady, &e->writeReady}) {
        if (*n != nullptr) {
            (*n)->setEnabled(false);
            (*n)->disconnect(this);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    e->connectPending = false;
    e->lastRead = ReadOutcome::WouldBlock;
}

void VelmoraSockets::updateWriteInterest(int index) {
    SocketEntry* e = entry(index);
    if (e != nullptr && e->writeReady != nullptr) {
        e->writeReady->setEnabled(e->connectPending || !e->SendBuffer.isEmpty());
    }
}

void VelmoraSockets::onWritable(int index) {
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0 || e->Handle == 0) {
        return;
    }
    const int handle = e->Handle;
    if (!e->connectPending) {
        HandleSocketEvent(index, SocketEvent::Writable, 0);
        updateWriteInterest(index);
        return;
    }
    e->connectPending = false;
    int error = 0;
    socklen_t length = sizeof(error);
    ::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        e->writeReady->setEnabled(false);
        HandleSocketEvent(index, SocketEvent::ConnectCompleted, WinSockErrorFromErrno(error));
        return;
    }
    e->readReady->setEnabled(true);
    HandleSocketEvent(index, SocketEvent::ConnectCompleted, 0);
    // The connection may have been closed or replaced by the handler.
    e = entry(index);
    if (e != nullptr && e->Handle == handle) {
        if (!e->SendBuffer.isEmpty()) {
            HandleSocketEvent(index, SocketEvent::Writable, 0);
        }
        updateWriteInterest(index);
    }
}

void VelmoraSockets::onReadable(int index) {
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0 || e->Handle == 0) {
        return;
    }
    const int handle = e->Handle;
    HandleSocketEvent(index, SocketEvent::Readable, 0);
    e = entry(index);
    if (e == nullptr || e->Handle != handle || e->InUse == 0) {
        return;
    }
    switch (e->lastRead) {
        case ReadOutcome::Deferred:
            // The limiter holds this socket back; the pump reads it on the next tick.
            e->readReady->setEnabled(false);
            break;
        case ReadOutcome::PeerClosed:
            e->readReady->setEnabled(false);
            e->writeReady->setEnabled(false);
            HandleSocketEvent(index, SocketEvent::PeerClosed, 0);
            break;
        case ReadOutcome::Failed:
            e->readReady->setEnabled(false);
            e->writeReady->setEnabled(false);
            HandleSocketEvent(index, SocketEvent::PeerClosed,
                              WinSockErrorFromErrno(e->lastReadErrno));
            break;
        case ReadOutcome::Data:
        case ReadOutcome::WouldBlock:
            break;
    }
}
