#include "engine/session/ftp_probe.h"

#include <QTimer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/types/tick.h"
#include "engine/ftp/ftp_reply_codes.h"
#include "engine/ftp/ftp_values.h"
#include "engine/session/busy_wait.h"
#include "engine/session/failure_words.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"
#include "net/socket_class.h"

void FtpProbe::takeData(SocketClass& socket) {
    const QByteArray bytes = socket.GetData();
    if (!session_.probeAwaitsAnswer()) {
        return;
    }
    std::vector<FtpReply> replies;
    if (!core_.connections.probe().ftpReplies.feed(bytes, replies)) {
        session_.failProbeAttempt(
            QStringLiteral("the FTP server's reply has no end within 64 KiB"));
        return;
    }
    // Each answer has its own 10 s: a server that stops half-way through the dialogue is
    // asked again, as one that never answered.
    session_.restartProbeTimer();
    for (const FtpReply& r : replies) {
        if (!session_.probeAwaitsAnswer()) {
            return;
        }
        qCInfo(lcEngine).noquote() << ProbeTag(core_.recordIndex) << "reply" << r.code;
        reply(socket, r);
    }
}

void FtpProbe::reply(SocketClass& socket, const FtpReply& reply) {
    DownloadRecord* r = core_.record();
    if (r == nullptr) {
        return;
    }
    ConnectionSlot& slot = core_.connections.probe();
    const QString tag = ProbeTag(core_.recordIndex);
    const QByteArray line = reply.firstLine();
    switch (reply.code) {
        case FtpCode::ServiceReady:
            if (slot.ftpLogin == FtpLogin::None) {
                core_.observer.stateLabelChanged(QStringLiteral("Logging in..."));
                slot.answerFtpLogin(reply, *r, tag);
                step_ = FtpProbeStep::UserSent;
            }
            break;
        case FtpCode::NeedPassword:
            slot.answerFtpLogin(reply, *r, tag);
            step_ = FtpProbeStep::PassSent;
            break;
        case FtpCode::LoggedIn:
            if (step_ == FtpProbeStep::UserSent || step_ == FtpProbeStep::PassSent) {
                core_.observer.stateLabelChanged(QStringLiteral("Get file info..."));
                const char* passive = PassiveCommand(socket.PeerAddress());
                qCInfo(lcEngine).noquote() << tag << "sent TYPE I, PWD," << passive;
                socket.SendData(FtpCommand("TYPE", "I") + FtpCommand("PWD") + FtpCommand(passive));
                step_ = FtpProbeStep::FileInfoAsked;
            }
            break;
        case FtpCode::PathCreated: {
            const QByteArray path = FtpPathBytes(r->UrlPath);
            directory_ = PwdDirectory(line) + path.left(path.lastIndexOf('/') + 1);
            qCInfo(lcEngine).noquote() << tag << "sent CWD" << directory_;
            socket.SendData(FtpCommand("CWD", directory_));
            break;
        }
        case FtpCode::FileActionOk:
            // The probe stays in binary mode: servers refuse "REST" in ASCII mode (501), which
            // would make every download look as if it could not be resumed.
            qCInfo(lcEngine).noquote() << tag << "sent SIZE" << remotePath();
            socket.SendData(FtpCommand("SIZE", remotePath()));
            break;
        case FtpCode::FileStatus:
            sizeReplied(socket, line, *r);
            break;
        case FtpCode::PendingFurther:
            handOver(true);
            break;
        case FtpCode::SyntaxError:
        case FtpCode::ArgumentError:
        case FtpCode::NotImplemented:
        case FtpCode::ArgumentNotImplemented:
            // Refused or unknown: the download goes on without restarts, or without the size.
            if (reply.text.contains("REST") || reply.text.contains("SIZE")) {
                handOver(false);
            }
            break;
        case FtpCode::NotAvailable:
        case FtpCode::NotLoggedIn:
            if (Busy::BusyFtpReply(reply.code, reply.text)) {
                session_.probeBusy(std::nullopt, FtpFailureCode(reply.code));
            } else {
                fail(core_.text(793), reply.code);
            }
            break;
        case FtpCode::FileUnavailable:
            if (reply.text.contains("PWD")) {
                directory_.clear();
                qCInfo(lcEngine).noquote() << tag << "sent SIZE" << remotePath();
                socket.SendData(FtpCommand("SIZE", remotePath()));
            } else {
                fail(core_.text(794), reply.code);
            }
            break;
        default:
            break;
    }
}

void FtpProbe::sizeReplied(SocketClass& socket, const QByteArray& line, DownloadRecord& r) {
    const QString tag = ProbeTag(core_.recordIndex);
    qCInfo(lcEngine).noquote() << tag << "sent REST 0";
    socket.SendData(FtpCommand("REST", "0"));
    const std::int64_t size = SizeReplyValue(line);
    // "213 0" is an empty file; a reply without a number says nothing of the size.
    core_.probeGaveSize = size > 0 || line.mid(3).trimmed() == "0";
    r.FileSize = Currency::fromBytes(size);
    qCInfo(lcEngine).noquote() << tag << "size"
                               << (core_.probeGaveSize ? QString::number(size)
                                                       : QStringLiteral("unknown"));
}

void FtpProbe::handOver(bool restarts) {
    DownloadRecord* r = core_.record();
    qCInfo(lcEngine).noquote() << ProbeTag(core_.recordIndex)
                               << (restarts ? "the server restarts transfers at an offset"
                                            : "no restarts: one segment from the first byte");
    session_.endProbe();
    session_.stopProbeTimer();
    r->RangesSupported = restarts ? FlagTrue : FlagFalse;
    MarkRunning(*r);
    core_.observer.entryChanged(core_.recordIndex);
    session_.startSegments();
}

// A refused login or a missing file: the entry stays, failed, with its address and what it
// received, for the user to correct or try again.
void FtpProbe::fail(const QString& message, int reply) {
    DownloadRecord* r = core_.record();
    core_.ctx.prompts.showMessage(message, SessionPrompts::Icon::Critical);
    session_.endProbe();
    const std::int16_t code = FtpFailureCode(reply);
    MarkFailed(*r, code);
    // The message says more than the code's words; the lists word the code.
    session_.closeWith(message);
}

QByteArray FtpProbe::remotePath() const {
    const DownloadRecord* r = core_.record();
    const QByteArray path = r == nullptr ? QByteArray() : FtpPathBytes(r->UrlPath);
    if (!directory_.isEmpty()) {
        return directory_ + path.mid(path.lastIndexOf('/') + 1);
    }
    // Without the directory the probe found (a download resumed in a later run), the path
    // is taken from the login directory, as the address means it; "/" would be the root.
    return path.startsWith('/') ? path.mid(1) : path;
}
