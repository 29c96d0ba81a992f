// Connecting an entry, its last step: the TLS handshake over the connection that stands (directly,
// through SOCKS or in a proxy's tunnel), driven by readiness until the owner can hear Connect.

#include "core/diagnostics/log_categories.h"
#include "net/connect_pipeline.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

void ConnectPipeline::startTls(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && e->Handle.valid() && !e->Tls);
    Q_ASSERT(e->readReady && e->writeReady);
    e->State = EntryState::Connecting;
    e->Tls =
        std::make_unique<TlsConnection>(tls_, e->Handle.get(), e->TlsServerName, e->TargetPort);
    qCInfo(lcNet).nospace().noquote() << "entry " << index << ": TLS handshake with "
                                      << e->TlsServerName << ":" << e->TargetPort << " started";
    tlsStep(index);
}

void ConnectPipeline::tlsStep(int index) {
    SocketEntry* e = sockets_.entry(index);
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
    e = sockets_.entry(index);
    if (e == nullptr || e->generation != generation) {
        return;
    }
    sockets_.FlushSend(index);
    sockets_.updateWriteInterest(index);
    if (e->Tls->pending()) {
        sockets_.readAgainLater(index);
    }
}

void ConnectPipeline::tlsFailed(int index) {
    SocketEntry* e = sockets_.entry(index);
    Q_ASSERT(e != nullptr && e->Tls);
    e->TlsFailureCause = e->Tls->failure();
    if (!e->TlsFailureCause.failed()) {
        e->TlsFailureCause = {TlsFailure::Reason::Other, QStringLiteral("no handshake")};
    }
    e->TlsProblem = TlsFailureText(e->TlsFailureCause, e->TlsServerName);
    e->TlsPeerFingerprint = e->Tls->peerFingerprint();
    qCInfo(lcNet).nospace().noquote()
        << "entry " << index << ": TLS handshake failed: " << e->TlsProblem << ", reported as "
        << SocketErrorText(WinSock::TlsFailed);
    e->readReady->setEnabled(false);
    e->writeReady->setEnabled(false);
    sockets_.HandleSocketEvent(index, SocketEvent::ConnectCompleted, WinSock::TlsFailed);
}
