#include "engine/session/download_session.h"

#include <QPointer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/transfer_rate.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/session/failure_words.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"
#include "net/socket_class.h"
#include "net/winsock_errors.h"

namespace {

// The probe's answer, and each FTP reply of its dialogue, must come within this.
constexpr int kProbeAnswerMs = 10000;
// Failed probe attempts are tried again this often before the download fails.
constexpr int kProbeRetries = 4;

}  // namespace

DownloadSession::DownloadSession(EngineContext& context, SessionObserver& observer, QObject* parent)
    : QObject(parent), core_(context, observer) {
    TimeOut.setInterval(kProbeAnswerMs);
    connect(&TimeOut, &QTimer::timeout, this, &DownloadSession::TimeOut_Timer);
}

// The slots close their connections and part files as they go.
DownloadSession::~DownloadSession() = default;

void DownloadSession::closeWith(const QString& why, const QString& logged) {
    TimeOut.stop();
    watchdog_.stop();
    segments_.stop();
    if (!why.isEmpty()) {
        lastProblem_ = why;
    }
    if (why.isEmpty()) {
        qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex) << "closed";
    } else {
        qCInfo(lcEngine).noquote()
            << DownloadTag(RecordIndex) << "ended:" << (logged.isEmpty() ? why : logged);
    }
    core_.observer.entryChanged(RecordIndex);
    core_.observer.sessionClosed(why);
}

void DownloadSession::endProbe() {
    probeState_ = ProbeState::Idle;
    if (SocketClass* probe = core_.sockGlobal()) {
        probe->CloseSocket();
    }
}

void DownloadSession::InitConnection() {
    DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    TimeOut.start();
    // The old probe may be the one whose handler runs now: the slot retires it later.
    ConnectionSlot& probe = core_.connections.probe();
    SocketClass* socket = &probe.replaceSocket();
    connect(socket, &SocketClass::ConnectEvent, this, &DownloadSession::sockGlobal_Connect);
    connect(socket, &SocketClass::DataReceivedEvent, this,
            &DownloadSession::sockGlobal_DataReceived);
    connect(socket, &SocketClass::ErrorEvent, this, &DownloadSession::sockGlobal_Error);
    connect(socket, &SocketClass::ClosedEvent, this, &DownloadSession::sockGlobal_Closed);
    MarkAttemptStarted(*r);
    probe.incoming = Incoming{};
    probe.ftpReplies.reset();
    probe.ftpLogin = FtpLogin::None;
    ftpProbe_.restart();
    probeState_ = ProbeState::AwaitingAnswer;
    core_.observer.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)));
    core_.observer.stateLabelChanged(QStringLiteral("Connecting to server..."));
    // A route that comes later belongs to this attempt only; the time-out runs meanwhile.
    core_.decideRoute([this, socket = QPointer<SocketClass>(socket)] {
        if (socket != nullptr && socket == core_.sockGlobal() && probeAwaitsAnswer()) {
            connectProbe(*socket);
        }
    });
}

void DownloadSession::connectProbe(SocketClass& socket) {
    DownloadRecord* r = record();
    const ProxyRoute& route = core_.route();
    if (!route.problem.isEmpty()) {
        TimeOut.stop();
        probeState_ = ProbeState::RetryPending;
        QTimer::singleShot(0, this, [this, why = route.problem] { endTlsFailed(why, true); });
        return;
    }
    // The HTTP proxy fetches an ftp:// address for us; an https:// one stays https, so its
    // Referer and login rules keep holding.
    if (route.kind == ProxyRoute::Kind::Http && r->Protocol == Protocol::Ftp) {
        r->Protocol = Protocol::Http;
    }
    const bool tls = r->Protocol == Protocol::Https;
    qCInfo(lcEngine).noquote().nospace()
        << ProbeTag(RecordIndex) << " connecting for " << UrlForDisplay(DecodeUrl(r->Url))
        << (route.direct() ? QString() : u' ' + core_.routeWords()) << (tls ? " over TLS" : "")
        << ", attempt " << r->RetryCount + 1;
    core_.connectTo(socket);
}

void DownloadSession::sockGlobal_Connect(SocketClass* socket) {
    if (socket != nullptr) {
        SegmentData_Connect(socket);
        return;
    }
    DownloadRecord* r = record();
    if (r == nullptr || !probeAwaitsAnswer()) {
        return;
    }
    core_.observer.stateLabelChanged(text(524));
    // The time-out now covers the answer too: a server that accepts and stays silent would
    // otherwise hold the download for ever.
    TimeOut.start();
    if (r->Protocol == Protocol::Ftp) {
        r->LastTick = MillisecondTick();  // the dialogue starts with the server's greeting
        return;
    }
    httpProbe_.sendRequest(*core_.sockGlobal());
}

void DownloadSession::sockGlobal_DataReceived(SocketClass* socket, std::int32_t numbytes) {
    core_.ctx.receivedBytes += numbytes;
    if (socket != nullptr) {
        SegmentData_DataReceived(socket, numbytes);
        return;
    }
    if (!probeAwaitsAnswer()) {
        core_.sockGlobal()->GetData();
        return;
    }
    if (core_.isFtp()) {
        ftpProbe_.takeData(*core_.sockGlobal());
    } else {
        httpProbe_.takeData(*core_.sockGlobal());
    }
}

void DownloadSession::sockGlobal_Error(SocketClass* socket, std::int32_t errornumber) {
    // A segment's connection reset by its server connects again at once; other failures of
    // segments are the watchdog's to restart.
    if (socket != nullptr) {
        const int k = core_.connections.slotOf(socket);
        if (k >= 0 && extraConnectionRefused(k, errornumber)) {
            return;
        }
        if (k >= 0 && errornumber == WinSock::ConnectionReset) {
            segments_.connectionLost(k);
        }
        return;
    }
    if (!probeAwaitsAnswer()) {
        return;
    }
    lastProbeError_ = errornumber;
    if (errornumber == WinSock::TlsFailed || errornumber == WinSock::TunnelRefused) {
        // The reason is read now (closing the socket clears it); the probe ends from the event
        // loop, as the error may be raised inside Connect itself.
        const SocketClass* probe = core_.sockGlobal();
        const QString problem = probe != nullptr ? probe->TlsProblem() : QString();
        const TlsFailure cause = probe != nullptr ? probe->TlsFailureCause() : TlsFailure{};
        const QByteArray fingerprint =
            probe != nullptr ? probe->TlsPeerFingerprint() : QByteArray();
        TimeOut.stop();
        probeState_ = ProbeState::RetryPending;
        const bool tunnel = errornumber == WinSock::TunnelRefused;
        QTimer::singleShot(0, this, [this, problem, cause, fingerprint, tunnel] {
            // The proxy's refusal names the proxy, the server and its answer already.
            if (tunnel) {
                endTlsFailed(problem, true);
            } else {
                tlsFailed(problem, cause, fingerprint);
            }
        });
        return;
    }
    qCInfo(lcEngine).noquote() << ProbeTag(RecordIndex) << "connection error" << errornumber;
    probeAttemptFailed();
}

bool DownloadSession::extraConnectionRefused(int k, std::int32_t errornumber) {
    // Only before the answer's first byte: a reset later is a broken transfer, not a refusal.
    const Incoming& in = core_.connections[k].incoming;
    if (in.headDone || !in.head.isEmpty() ||
        (errornumber != WinSock::ConnectionReset && errornumber != WinSock::ConnectionRefused)) {
        return false;
    }
    return segments_.stepDownAfterRefusal(k, errornumber == WinSock::ConnectionReset
                                                 ? QStringLiteral("reset before any byte")
                                                 : QStringLiteral("connection refused"));
}

void DownloadSession::sockGlobal_Closed(SocketClass* socket) {
    if (socket != nullptr) {
        const int k = core_.connections.slotOf(socket);
        if (k >= 0 && core_.connections[k].incoming.bodyEnd == BodyEnd::AtClose &&
            core_.connections[k].incoming.headDone) {
            const DownloadRecord* r = record();
            if (r != nullptr && r->Protocol == Protocol::Https && !socket->TlsClosedCleanly()) {
                // Without TLS's close_notify the end may be an attacker's or a broken line's,
                // and nothing else says how long the file is: the watchdog asks again.
                qCInfo(lcEngine).noquote() << SegmentTag(RecordIndex, core_.segmentOf(k))
                                           << "closed without TLS close_notify: not the end";
                return;
            }
            segments_.bodyEnded(k);
        } else if (const int dk = core_.connections.dataSlotOf(socket); dk >= 0) {
            ftpSegments_.dataClosed(dk);
        } else if (k >= 0) {
            segments_.connectionLost(k);
        }
        return;
    }
    // A probe closed before its head ended is a failed attempt.
    if (probeAwaitsAnswer()) {
        lastProblem_ = QLatin1String(SessionReason::ClosedWithoutAnswer);
        qCInfo(lcEngine).noquote() << ProbeTag(RecordIndex) << lastProblem_;
        probeAttemptFailed();
    }
}

void DownloadSession::probeAttemptFailed() {
    // Retry from the event loop: the error may be raised inside Connect itself.
    probeState_ = ProbeState::RetryPending;
    QTimer::singleShot(0, this, &DownloadSession::TimeOut_Timer);
}

void DownloadSession::TimeOut_Timer() {
    TimeOut.stop();
    DownloadRecord* r = record();
    const bool probeExists = probeState_ != ProbeState::Idle;
    probeState_ = ProbeState::Idle;
    if (r == nullptr || !Listed(*r) || !probeExists) {
        return;
    }
    if (SocketClass* probe = core_.sockGlobal()) {
        probe->CloseSocket();
    }
    if (lastProbeError_ == 0 && lastProblem_.isEmpty()) {
        lastProbeError_ = WinSock::TimedOut;
    }
    const QString why = lastProblem_.isEmpty() ? SocketErrorText(lastProbeError_) : lastProblem_;
    if (r->RetryCount < kProbeRetries) {
        ++r->RetryCount;
        qCInfo(lcEngine).noquote() << ProbeTag(RecordIndex) << "retry" << r->RetryCount << "of"
                                   << kProbeRetries << "after:" << why;
        InitConnection();
    } else {
        MarkFailed(*r, FailureCodeFor(why));
        qCInfo(lcEngine).noquote()
            << ProbeTag(RecordIndex) << "failed after" << kProbeRetries << "retries:" << why;
        // The socket error's words and number, so that the user is told what went wrong.
        closeWith(why);
    }
    core_.observer.entryChanged(RecordIndex);
}

void DownloadSession::failProbeAttempt(const QString& why) {
    lastProblem_ = why;
    probeState_ = ProbeState::RetryPending;
    TimeOut_Timer();
}

void DownloadSession::ConnectSegmented() {
    // A download resumed without a probe asks for its route first.
    if (!core_.routeDecided()) {
        if (!routePending_) {
            routePending_ = true;
            core_.decideRoute([this] {
                routePending_ = false;
                const DownloadRecord* r = record();
                if (r != nullptr && !HeldByPause(*r)) {
                    ConnectSegmented();
                }
            });
        }
        return;
    }
    if (record() != nullptr) {
        watchdog_.start();
    }
    segments_.start();
}

QString DownloadSession::reconnecting() const {
    if (probeBusy_.waiting()) {
        return Busy::Words(probeBusy_.msLeft(), core_.ctx.texts);
    }
    if (const std::optional<std::int64_t> left = segments_.busyLeftMs()) {
        return Busy::Words(*left, core_.ctx.texts);
    }
    const int attempt = core_.silentRestarts();
    return attempt > 0 ? ReconnectingWords(attempt, core_.ctx.texts) : QString();
}

std::optional<double> DownloadSession::shownSpeed() const {
    const DownloadRecord* r = core_.record();
    if (r == nullptr || core_.silentRestarts() > 0) {
        return std::nullopt;
    }
    return TransferRate(*r);
}

void DownloadSession::SegTimeOut_Timer() {
    watchdog_.tick();
}

void DownloadSession::SegmentData_Connect(SocketClass* socket) {
    const int k = core_.connections.slotOf(socket);
    if (k < 0 || !segments_.connected(k)) {
        return;
    }
    // An FTP segment's dialogue starts with the server's greeting; an HTTP one asks at once.
    if (!core_.isFtp()) {
        httpSegments_.sendRequest(*socket, k);
    }
    segments_.connectNextNow(k);
}

void DownloadSession::SegmentData_DataReceived(SocketClass* socket, std::int32_t numbytes) {
    const int k = core_.connections.slotOf(socket);
    if (k < 0) {
        if (const int dk = core_.connections.dataSlotOf(socket); dk >= 0) {
            SegmentData_DataReceivedFTP(dk, numbytes);
        }
        return;
    }
    DownloadRecord* r = record();
    if (r == nullptr || core_.servedSegment(k) == nullptr) {
        return;
    }
    if (r->Protocol == Protocol::Ftp) {
        FTPSystem(k);
    } else {
        httpSegments_.takeData(*socket, k);
    }
}

void DownloadSession::FTPSystem(int k) {
    ftpSegments_.takeReplies(k);
}

void DownloadSession::SegmentData_DataReceivedFTP(int k, std::int32_t /*numbytes*/) {
    ftpSegments_.takeData(k);
}
