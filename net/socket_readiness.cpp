// Readiness from the event loop for the table's entries: the notifiers, and each notification
// turned into the event the entry's owner hears, or into the next connect step while it connects.

#include <QSocketNotifier>
#include <QTimer>

#include "core/diagnostics/log_categories.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

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
            break;
        case SocketEvent::Writable:
            if (!e->SendBuffer.isEmpty()) {
                FlushSend(index);
            }
            break;
        case SocketEvent::ConnectCompleted:
            pipeline_.tcpConnected(index);
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

void VelmoraSockets::retryHeldBackRead(int index) {
    SocketEntry* e = entry(index);
    const std::uint64_t generation = e->generation;
    if (e->retryFor == generation) {
        return;
    }
    e->retryFor = generation;
    QTimer::singleShot(SpeedLimiter::RetryMilliseconds, this, [this, index, generation] {
        SocketEntry* e = entry(index);
        if (e == nullptr || e->generation != generation) {
            return;
        }
        e->retryFor = 0;
        if (e->InUse != 0 && e->Handle.valid() && e->lastRead == ReadOutcome::Deferred) {
            if (e->readReady) {
                e->readReady->setEnabled(true);
            }
            onReadable(index);
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
    if (!e->connectPending && e->Tls && !e->Tls->handshakeDone()) {
        pipeline_.tlsStep(index);
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
    pipeline_.tcpAnswered(index);
}

void VelmoraSockets::onReadable(int index) {
    Q_ASSERT(index >= 1 && index <= count_);
    SocketEntry* e = entry(index);
    if (e == nullptr || e->InUse == 0 || !e->Handle.valid()) {
        return;
    }
    if (e->Tls && !e->Tls->handshakeDone()) {
        pipeline_.tlsStep(index);
        return;
    }
    if (e->Tunnel.phase == HttpTunnel::Phase::Requested) {
        pipeline_.tunnelReadable(index);
        return;
    }
    if (e->UseSocks && e->State == EntryState::SocksRequested) {
        pipeline_.socksReadable(index);
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
            // The limiter holds this socket back until some allowance is due: retried soon
            // rather than at the next pump, so limited reads spread over the pump's period
            // instead of bunching at its ticks.
            e->readReady->setEnabled(false);
            retryHeldBackRead(index);
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
                << "entry " << index << ": connection lost, " << SocketErrorText(e->lastReadError)
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
