// Moving bytes for the table's entries: sends queued until the OS (or TLS) takes them, and reads
// into the entry's buffer, through the speed limiter when the entry is rate-limited.

#include <sys/socket.h>

#include <QTimer>
#include <algorithm>
#include <cerrno>

#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

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
    const bool limited = e->RateLimited != 0 && limiter_.active();
    if (limited) {
        size = limiter_.LimitedReadSize(e->RecvSize);
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
        limiter_.giveBack(size - static_cast<std::int32_t>(std::max<ssize_t>(n, 0)));
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
