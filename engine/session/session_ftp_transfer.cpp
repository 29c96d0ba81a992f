// FTP segments: per segment a control connection that logs in and asks for the file from the
// segment's start, and a passive data connection that carries the bytes.
#include <QTimer>

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/types/tick.h"
#include "engine/ftp/ftp_values.h"
#include "engine/session/download_session.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"
#include "net/socket_class.h"
#include "net/socket_module.h"

namespace {

// A waiting segment is tried again after this long when no other segment is left whose end
// would start it.
constexpr std::int32_t kLoneWaitMs = 5000;
// The server needs a moment to count a finished session as gone before the next one logs in.
constexpr int kSessionHandOverMs = 250;

bool IsWaiting(const SegmentRecord& s) {
    return s.State == SegmentState::FtpWaiting;
}

}  // namespace

void DownloadSession::FTPSystem(int k) {
    DownloadRecord* r = record();
    ConnectionSlot& slot = slots_[k];
    const QByteArray bytes = slot.socket().GetData();
    if (r == nullptr || k >= r->SegmentCount) {
        return;
    }
    SegmentRecord& s = *r->Segments.at(k + 1);
    // Replies of a connection the segment has already left behind change nothing.
    if (r->Paused == FlagTrue || s.State == SegmentState::Complete ||
        s.State == SegmentState::Paused || IsWaiting(s)) {
        return;
    }
    r->Running = FlagTrue;
    s.SegTick = MillisecondTick();
    std::vector<FtpReply> replies;
    if (!slot.ftpReplies.feed(bytes, replies)) {
        slot.socket().CloseSocket();  // no server talks like this; the watchdog tries again
        return;
    }
    const std::uint32_t generation = slot.generation();
    for (const FtpReply& reply : replies) {
        if (generation != slot.generation() || record() == nullptr) {
            return;
        }
        ftpSegmentReply(k, reply);
    }
}

void DownloadSession::ftpSegmentReply(int k, const FtpReply& reply) {
    DownloadRecord* r = record();
    SegmentRecord& s = *r->Segments.at(k + 1);
    ConnectionSlot& slot = slots_[k];
    SocketClass& control = slot.socket();
    switch (reply.code) {
        case 421:
        case 530:
            // The server has no session to spare: wait until another segment ends.
            control.CloseSocket();
            if (SocketClass* data = slot.existingDataSocket()) {
                data->CloseSocket();
            }
            s.State = SegmentState::FtpWaiting;
            observer_.segmentRowsChanged(0);
            break;
        case 220:
            if (!loginSent(k)) {
                s.State = SegmentState::Receiving;
                observer_.segmentRowsChanged(0);
                slot.answerFtpLogin(reply, *r, SegmentTag(RecordIndex, k + 1));
            }
            break;
        case 331:
            slot.answerFtpLogin(reply, *r, SegmentTag(RecordIndex, k + 1));
            break;
        case 230:
            // Replies are acted on only once all their lines are in, so the login is complete
            // here and the transfer is set up at once, without waiting for stragglers.
            observer_.segmentRowsChanged(0);
            if (s.State != SegmentState::FtpLoggedIn) {
                ftpLoggedIn(k);
            }
            break;
        case 227:
            ftpOpenDataConnection(k, reply);
            break;
        case 200:
            if (r->RangesSupported != FlagTrue) {
                ftpRequestFile(k);
            }
            break;
        case 350:
            ftpRequestFile(k);
            break;
        case 150:
            ftpOpeningReply(k, reply);
            break;
        case 226:
            slot.ftpTransferReported = true;
            ftpDataEnded(k);
            break;
        case 500:
            ctx_.prompts.showMessage(text(795), SessionPrompts::Icon::Critical);
            break;
        default:
            break;
    }
}

void DownloadSession::ftpLoggedIn(int k) {
    DownloadRecord* r = record();
    if (r == nullptr || r->Paused == FlagTrue || k >= r->SegmentCount) {
        return;
    }
    SegmentRecord& s = *r->Segments.at(k + 1);
    if (s.State == SegmentState::FtpLoggedIn || s.State == SegmentState::Complete) {
        return;
    }
    s.State = SegmentState::FtpLoggedIn;
    QByteArray commands = FtpCommand("PASV") + FtpCommand("TYPE", "I");
    if (r->RangesSupported == FlagTrue) {
        commands +=
            FtpCommand("REST", QByteArray::number(static_cast<qlonglong>(s.StartPos.bytes())));
    }
    slots_[k].socket().SendData(commands);
}

void DownloadSession::ftpOpenDataConnection(int k, const FtpReply& reply) {
    DownloadRecord* r = record();
    const auto address = ParsePassiveReply(reply.firstLine());
    ConnectionSlot& slot = slots_[k];
    if (!address) {
        slot.socket().CloseSocket();  // an unusable answer; the watchdog tries again
        return;
    }
    SocketClass& data = slot.dataSocket();
    data.CloseSocket();
    data.SetEventSocket(sockGlobal());
    slot.ftpDataClosed = false;
    // Only the port is taken from the reply: the data comes from the server the control
    // connection reached, whatever address the reply names.
    QString host = slot.socket().PeerAddress();
    if (host.isEmpty()) {
        host = r->HostName;
    }
    data.Connect(host, address->port);
    if (SocketEntry* e = ctx_.sockets.entry(data.SocketIndex)) {
        e->RateLimited = 0;
        if (r->SegmentCount == 1 && ctx_.settings.UseSpeedLimiter == FlagTrue &&
            ctx_.settings.SpeedLimiter > 0) {
            e->RateLimited = 1;
        }
    }
}

void DownloadSession::ftpRequestFile(int k) {
    DownloadRecord* r = record();
    SegmentRecord& s = *r->Segments.at(k + 1);
    if (s.State == SegmentState::FtpTransferRequested) {
        return;
    }
    slots_[k].socket().SendData(FtpCommand("RETR", ftpProbe_.remotePath()));
    s.State = SegmentState::FtpTransferRequested;
    observer_.segmentRowsChanged(0);
}

void DownloadSession::ftpOpeningReply(int k, const FtpReply& reply) {
    DownloadRecord* r = record();
    if (r->FileSize.bytes() != 0 || k != 0) {
        return;
    }
    const std::int64_t size = OpeningReplySize(reply.firstLine());
    if (size <= 0) {
        return;
    }
    // The size learnt only now: the single segment gets its end.
    r->FileSize = Currency::fromBytes(size);
    SegmentRecord& s = *r->Segments.at(1);
    s.StartPos = Currency{};
    s.EndPos = Currency::fromBytes(size - 1);
    s.Length = Currency::fromBytes(size);
    slots_[0].incoming.bodyEnd = BodyEnd::AtLength;
    observer_.entryChanged(RecordIndex);
}

void DownloadSession::SegmentData_DataReceivedFTP(int k, std::int32_t /*numbytes*/) {
    const QByteArray data = slots_[k].dataSocket().GetData();
    DownloadRecord* r = record();
    if (r == nullptr || r->Paused == FlagTrue || k >= r->SegmentCount) {
        return;
    }
    const SegmentRecord& s = *r->Segments.at(k + 1);
    // Only a transfer this segment asked for is written: bytes of a complete, paused,
    // restarted or waiting segment are dropped.
    if (s.State != SegmentState::FtpTransferRequested && s.State != SegmentState::Receiving) {
        return;
    }
    slots_[k].incoming.bodyEnd =
        r->FileSize.bytes() == 0 && !sizeKnown_ ? BodyEnd::AtClose : BodyEnd::AtLength;
    storeSegmentData(k, data.constData(), data.size());
}

void DownloadSession::ftpDataEnded(int k) {
    DownloadRecord* r = record();
    if (r == nullptr || k >= r->SegmentCount || r->FileSize.bytes() != 0 || sizeKnown_) {
        return;
    }
    const SegmentRecord& s = *r->Segments.at(k + 1);
    // A file of unknown size is whole once the data connection has closed and the server has
    // said the transfer went through; a cut connection alone is left to the watchdog.
    const bool transferring =
        s.State == SegmentState::Receiving || s.State == SegmentState::FtpTransferRequested;
    if (transferring && slots_[k].ftpDataClosed && slots_[k].ftpTransferReported) {
        segmentBodyEnded(k);
    }
}

void DownloadSession::ftpStartWaitingSegment() {
    DownloadRecord* r = record();
    if (r == nullptr || r->Paused == FlagTrue) {
        return;
    }
    for (int j = 1; j <= r->SegmentCount; ++j) {
        SegmentRecord& s = *r->Segments.at(j);
        if (!IsWaiting(s)) {
            continue;
        }
        const int k = j - 1;
        s.State = SegmentState::Idle;
        s.SegTick = MillisecondTick();
        slots_[k].forgetConnection();
        const std::uint32_t generation = slots_[k].generation();
        QTimer::singleShot(kSessionHandOverMs, this, [this, k, generation] {
            DownloadRecord* r = record();
            if (r == nullptr || r->Paused == FlagTrue || generation != slots_[k].generation()) {
                return;
            }
            SocketClass& control = slots_[k].socket();
            control.SetEventSocket(sockGlobal());
            control.CloseSocket();
            connectTo(control);
        });
        return;
    }
}

void DownloadSession::ftpWatchWaitingSegments(std::int32_t now) {
    DownloadRecord* r = record();
    const SegmentRecord* first = nullptr;
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        if (IsWaiting(s)) {
            first = first == nullptr ? &s : first;
        } else if (s.State != SegmentState::Complete && s.InPlan != 0) {
            return;  // a segment still running starts the next one when it ends
        }
    }
    // Every segment left waits, so none would ever end to start another one.
    if (first != nullptr &&
        static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                  static_cast<std::uint32_t>(first->SegTick)) > kLoneWaitMs) {
        ftpStartWaitingSegment();
    }
}
