// The FTP probe: log in, find the file's directory and size, and learn whether the server
// restarts transfers at an offset.
#include <QTimer>

#include "core/download_list/download_list.h"
#include "core/text/text_table.h"
#include "core/types/tick.h"
#include "engine/ftp/ftp_values.h"
#include "engine/session/download_session.h"
#include "engine/session/session_prompts.h"
#include "net/socket_class.h"

void DownloadSession::ftpProbeData() {
    const QByteArray bytes = sockGlobal()->GetData();
    if (!probeLive_) {
        return;
    }
    std::vector<FtpReply> replies;
    if (!slots_.probe().ftpReplies.feed(bytes, replies)) {
        failProbeAttempt(QStringLiteral("the FTP server's reply has no end within 64 KiB"));
        return;
    }
    // Each answer has its own 10 s: a server that stops half-way through the dialogue is
    // asked again, as one that never answered.
    TimeOut.start();
    for (const FtpReply& reply : replies) {
        if (!probeLive_) {
            return;
        }
        ftpProbeReply(reply);
    }
}

void DownloadSession::ftpSendLogin(SocketClass& socket, const FtpReply& reply, int slot) {
    const DownloadRecord* r = record();
    if (reply.code == 220) {
        if (slots_[slot].ftpLogin != FtpLogin::None) {
            return;
        }
        slots_[slot].ftpLogin = FtpLogin::UserSent;
        socket.SendData(FtpCommand("USER", FtpPathBytes(r->UserName)));
    } else if (reply.code == 331) {
        slots_[slot].ftpLogin = FtpLogin::PassSent;
        socket.SendData(FtpCommand("PASS", r->UserName == u"anonymous"
                                               ? QByteArray(kAnonymousPassword)
                                               : FtpPathBytes(r->Password)));
    }
}

void DownloadSession::ftpProbeReply(const FtpReply& reply) {
    DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    const QByteArray line = reply.firstLine();
    switch (reply.code) {
        case 220:
            if (!loginSent(ProbeSlot)) {
                observer_.stateLabelChanged(QStringLiteral("Logging in..."));
                ftpSendLogin(*sockGlobal(), reply, ProbeSlot);
                FtpProbeStep = 1;
            }
            break;
        case 331:
            ftpSendLogin(*sockGlobal(), reply, ProbeSlot);
            FtpProbeStep = 2;
            break;
        case 230:
            if (FtpProbeStep == 1 || FtpProbeStep == 2) {
                observer_.stateLabelChanged(QStringLiteral("Get file info..."));
                sockGlobal()->SendData(FtpCommand("TYPE", "I") + FtpCommand("PWD") +
                                       FtpCommand("PASV"));
                FtpProbeStep = 3;
            }
            break;
        case 257: {
            const QByteArray path = FtpPathBytes(r->UrlPath);
            FtpDirectory = PwdDirectory(line) + path.left(path.lastIndexOf('/') + 1);
            sockGlobal()->SendData(FtpCommand("CWD", FtpDirectory));
            break;
        }
        case 250:
            // The probe stays in binary mode: servers refuse "REST" in ASCII mode (501), which
            // would make every download look as if it could not be resumed.
            sockGlobal()->SendData(FtpCommand("SIZE", ftpRemotePath()));
            break;
        case 213: {
            sockGlobal()->SendData(FtpCommand("REST", "0"));
            const std::int64_t size = SizeReplyValue(line);
            // "213 0" is an empty file; a reply without a number says nothing of the size.
            sizeKnown_ = size > 0 || line.mid(3).trimmed() == "0";
            r->FileSize = Currency::fromBytes(size);
            break;
        }
        case 350:
            endProbe();
            TimeOut.stop();
            r->RangesSupported = FlagTrue;
            r->Running = FlagTrue;
            observer_.entryChanged(RecordIndex);
            ConnectSegmented();
            break;
        case 500:
        case 501:
        case 502:
        case 504:
            // Refused or unknown: the download goes on without restarts, or without the size.
            if (reply.text.contains("REST") || reply.text.contains("SIZE")) {
                endProbe();
                TimeOut.stop();
                r->RangesSupported = FlagFalse;
                r->Running = FlagTrue;
                observer_.entryChanged(RecordIndex);
                ConnectSegmented();
            }
            break;
        case 530:
            ftpEndProbe(text(793), false);
            break;
        case 550:
            if (reply.text.contains("PWD")) {
                FtpDirectory.clear();
                sockGlobal()->SendData(FtpCommand("SIZE", ftpRemotePath()));
            } else {
                ftpEndProbe(text(794), true);
            }
            break;
        default:
            break;
    }
}

void DownloadSession::ftpEndProbe(const QString& message, bool removed) {
    DownloadRecord* r = record();
    ctx_.prompts.showMessage(message, SessionPrompts::Icon::Critical);
    endProbe();
    r->Transferring = FlagFalse;
    r->Active = FlagFalse;
    r->Running = FlagFalse;
    if (removed) {
        r->Removed = FlagTrue;
    }
    closeWith(message);
}

QByteArray DownloadSession::ftpRemotePath() const {
    const DownloadRecord* r = ctx_.list.record(RecordIndex);
    const QByteArray path = r == nullptr ? QByteArray() : FtpPathBytes(r->UrlPath);
    if (!FtpDirectory.isEmpty()) {
        return FtpDirectory + path.mid(path.lastIndexOf('/') + 1);
    }
    // Without the directory the probe found (a download resumed in a later run), the path
    // is taken from the login directory, as the address means it; "/" would be the root.
    return path.startsWith('/') ? path.mid(1) : path;
}
