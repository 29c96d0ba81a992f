#include "net/socket_module.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/socket_class.h"

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
      pipeline_(*this, *tls_) {}

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
        e->UseSocks = false;
        e->Socks = {};
        dropHandle(index);
        e->InUse = -1;
        e->State = EntryState::Idle;
    }
}

void VelmoraSockets::ReleaseEntry(int index) {
    if (SocketEntry* e = entry(index)) {
        e->TlsServerName.clear();
        e->Tunnel = {};
        e->UseSocks = false;
        e->Socks = {};
        dropHandle(index);
        e->InUse = 0;
        // A free entry has no owner: the next object to take it becomes the only one.
        e->Owner = nullptr;
    }
}

void VelmoraSockets::ConnectEntry(int index, const QString& server, std::int32_t port) {
    if (SocketEntry* e = entry(index)) {
        e->Tunnel.authorize = false;  // the login goes only to a proxy that asked for it
    }
    pipeline_.start(index, server, port);
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
