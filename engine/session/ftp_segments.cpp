#include "engine/session/ftp_segments.h"

#include <QTimer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/types/tick.h"
#include "engine/ftp/ftp_reply_codes.h"
#include "engine/ftp/ftp_values.h"
#include "engine/session/ftp_probe.h"
#include "engine/session/segment_connections.h"
#include "engine/session/segment_writer.h"
#include "engine/session/session_core.h"
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

void FtpSegments::takeReplies(int k) {
    DownloadRecord* r = core_.record();
    ConnectionSlot& slot = core_.connections[k];
    const QByteArray bytes = slot.socket().GetData();
    if (r == nullptr || core_.servedSegment(k) == nullptr) {
        return;
    }
    SegmentRecord& s = *core_.servedSegment(k);
    // Replies of a connection the segment has already left behind change nothing.
    if (HeldByPause(*r) || s.State == SegmentState::Complete || s.State == SegmentState::Paused ||
        IsWaiting(s)) {
        return;
    }
    MarkRunning(*r);
    s.SegTick = MillisecondTick();
    std::vector<FtpReply> replies;
    if (!slot.ftpReplies.feed(bytes, replies)) {
        qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                                   << "a reply without an end: closed";
        slot.socket().CloseSocket();  // no server talks like this; the watchdog tries again
        return;
    }
    const std::uint32_t generation = slot.generation();
    for (const FtpReply& one : replies) {
        if (generation != slot.generation() || core_.record() == nullptr) {
            return;
        }
        qCInfo(lcEngine).noquote()
            << SegmentTag(core_.recordIndex, core_.segmentOf(k)) << "reply" << one.code;
        reply(k, one);
    }
}

void FtpSegments::reply(int k, const FtpReply& reply) {
    DownloadRecord* r = core_.record();
    SegmentRecord& s = *core_.servedSegment(k);
    ConnectionSlot& slot = core_.connections[k];
    SocketClass& control = slot.socket();
    switch (reply.code) {
        case FtpCode::NotAvailable:
        case FtpCode::NotLoggedIn:
            // The server has no session to spare: wait until another segment ends.
            qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                                       << "no session to spare: waits for another segment";
            control.CloseSocket();
            if (SocketClass* data = slot.existingDataSocket()) {
                data->CloseSocket();
            }
            s.State = SegmentState::FtpWaiting;
            sessionsFull_ = true;
            core_.observer.segmentRowsChanged(0);
            break;
        case FtpCode::ServiceReady:
            if (slot.ftpLogin == FtpLogin::None) {
                s.State = SegmentState::Receiving;
                core_.observer.segmentRowsChanged(0);
                slot.answerFtpLogin(reply, *r, SegmentTag(core_.recordIndex, core_.segmentOf(k)));
            }
            break;
        case FtpCode::NeedPassword:
            slot.answerFtpLogin(reply, *r, SegmentTag(core_.recordIndex, core_.segmentOf(k)));
            break;
        case FtpCode::LoggedIn:
            // Replies are acted on only once all their lines are in, so the login is complete
            // here and the transfer is set up at once, without waiting for stragglers.
            core_.observer.segmentRowsChanged(0);
            if (s.State != SegmentState::FtpLoggedIn) {
                loggedIn(k);
            }
            break;
        case FtpCode::EnteringPassive:
        case FtpCode::ExtendedPassive:
            openDataConnection(k, reply);
            break;
        case FtpCode::CommandOk:
            if (r->RangesSupported != FlagTrue) {
                requestFile(k);
            }
            break;
        case FtpCode::PendingFurther:
            requestFile(k);
            break;
        case FtpCode::OpeningData:
            openingReply(k, reply);
            break;
        case FtpCode::TransferComplete:
            slot.ftpTransferReported = true;
            transferEnded(k);
            break;
        case FtpCode::SyntaxError:
            core_.ctx.prompts.showMessage(core_.text(795), SessionPrompts::Icon::Critical);
            break;
        default:
            break;
    }
}

void FtpSegments::loggedIn(int k) {
    DownloadRecord* r = core_.record();
    if (r == nullptr || HeldByPause(*r) || core_.servedSegment(k) == nullptr) {
        return;
    }
    SegmentRecord& s = *core_.servedSegment(k);
    if (s.State == SegmentState::FtpLoggedIn || s.State == SegmentState::Complete) {
        return;
    }
    s.State = SegmentState::FtpLoggedIn;
    const char* passive = PassiveCommand(core_.connections[k].socket().PeerAddress());
    QByteArray commands = FtpCommand(passive) + FtpCommand("TYPE", "I");
    const QByteArray offset = QByteArray::number(static_cast<qlonglong>(s.StartPos.bytes()));
    if (r->RangesSupported == FlagTrue) {
        commands += FtpCommand("REST", offset);
    }
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k)) << "sent"
                               << passive << "TYPE I"
                               << (r->RangesSupported == FlagTrue ? "REST " + offset
                                                                  : QByteArray());
    core_.connections[k].socket().SendData(commands);
}

void FtpSegments::openDataConnection(int k, const FtpReply& reply) {
    DownloadRecord* r = core_.record();
    const auto address = reply.code == FtpCode::ExtendedPassive
                             ? ParseExtendedPassiveReply(reply.firstLine())
                             : ParsePassiveReply(reply.firstLine());
    ConnectionSlot& slot = core_.connections[k];
    if (!address) {
        qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                                   << "an unusable passive address: closed";
        slot.socket().CloseSocket();  // the watchdog tries again
        return;
    }
    SocketClass& data = slot.dataSocket();
    data.CloseSocket();
    data.SetEventSocket(core_.sockGlobal());
    slot.ftpDataClosed = false;
    // Only the port is taken from the reply: the data comes from the server the control
    // connection reached, whatever address the reply names (through a proxy, by its name).
    QString host = slot.socket().PeerAddress();
    if (host.isEmpty()) {
        host = r->HostName;
    }
    qCDebug(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                                << "data connection to" << host << "port" << address->port
                                << core_.routeWords();
    core_.connectData(data, host, address->port);
    const Settings& settings = core_.ctx.settings;
    if (SocketEntry* e = core_.ctx.sockets.entry(data.SocketIndex)) {
        e->RateLimited = 0;
        if (r->SegmentCount == 1 && settings.UseSpeedLimiter == FlagTrue &&
            settings.SpeedLimiter > 0) {
            e->RateLimited = 1;
        }
    }
}

void FtpSegments::requestFile(int k) {
    SegmentRecord& s = *core_.servedSegment(k);
    if (s.State == SegmentState::FtpTransferRequested) {
        return;
    }
    const QByteArray path = probe_.remotePath();
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k)) << "sent RETR"
                               << path;
    core_.connections[k].socket().SendData(FtpCommand("RETR", path));
    s.State = SegmentState::FtpTransferRequested;
    core_.observer.segmentRowsChanged(0);
}

void FtpSegments::openingReply(int k, const FtpReply& reply) {
    DownloadRecord* r = core_.record();
    if (r->FileSize.bytes() != 0 || core_.segmentOf(k) != 1) {
        return;
    }
    const std::int64_t size = OpeningReplySize(reply.firstLine());
    if (size <= 0) {
        return;
    }
    // The size learnt only now: the single segment gets its end.
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, 1) << "the transfer names its size"
                               << size;
    r->FileSize = Currency::fromBytes(size);
    SegmentRecord& s = *r->Segments.at(1);
    s.StartPos = Currency{};
    s.EndPos = Currency::fromBytes(size - 1);
    s.Length = Currency::fromBytes(size);
    core_.connections[k].incoming.bodyEnd = BodyEnd::AtLength;
    core_.observer.entryChanged(core_.recordIndex);
}

void FtpSegments::takeData(int k) {
    const QByteArray data = core_.connections[k].dataSocket().GetData();
    DownloadRecord* r = core_.record();
    if (r == nullptr || HeldByPause(*r) || core_.servedSegment(k) == nullptr) {
        return;
    }
    const SegmentRecord& s = *core_.servedSegment(k);
    // Only a transfer this segment asked for is written: bytes of a complete, paused,
    // restarted or waiting segment are dropped.
    if (s.State != SegmentState::FtpTransferRequested && s.State != SegmentState::Receiving) {
        return;
    }
    core_.connections[k].incoming.bodyEnd =
        !core_.sizeKnown() ? BodyEnd::AtClose : BodyEnd::AtLength;
    if (writer_.store(k, data.constData(), data.size())) {
        segments_.complete(k);
    }
}

void FtpSegments::dataClosed(int k) {
    core_.connections[k].ftpDataClosed = true;
    transferEnded(k);
}

void FtpSegments::transferEnded(int k) {
    DownloadRecord* r = core_.record();
    if (r == nullptr || core_.servedSegment(k) == nullptr || core_.sizeKnown()) {
        return;
    }
    const SegmentRecord& s = *core_.servedSegment(k);
    // A file of unknown size is whole once the data connection has closed and the server has
    // said the transfer went through; a cut connection alone is left to the watchdog.
    const bool transferring =
        s.State == SegmentState::Receiving || s.State == SegmentState::FtpTransferRequested;
    if (transferring && core_.connections[k].ftpDataClosed &&
        core_.connections[k].ftpTransferReported) {
        segments_.bodyEnded(k);
    }
}

void FtpSegments::startWaitingSegment() {
    DownloadRecord* r = core_.record();
    if (r == nullptr || HeldByPause(*r)) {
        return;
    }
    for (int j = 1; j <= r->SegmentCount; ++j) {
        SegmentRecord& s = *r->Segments.at(j);
        if (!IsWaiting(s)) {
            continue;
        }
        // A waiting segment keeps its connection slot, so it has one to log in on.
        const int k = core_.connections.serving(j);
        if (k < 0) {
            continue;
        }
        s.State = SegmentState::Idle;
        s.SegTick = MillisecondTick();
        core_.connections[k].forgetConnection();
        const std::uint32_t generation = core_.connections[k].generation();
        qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j) << "logs in again";
        QTimer::singleShot(kSessionHandOverMs, &core_.lifetime(), [this, k, generation] {
            DownloadRecord* r = core_.record();
            if (r == nullptr || HeldByPause(*r) ||
                generation != core_.connections[k].generation()) {
                return;
            }
            SocketClass& control = core_.connections[k].socket();
            control.SetEventSocket(core_.sockGlobal());
            control.CloseSocket();
            core_.connectTo(control);
        });
        return;
    }
}

void FtpSegments::watchWaitingSegments(std::int32_t now) {
    const DownloadRecord* r = core_.record();
    const SegmentRecord* first = nullptr;
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        if (IsWaiting(s)) {
            first = first == nullptr ? &s : first;
        } else if (s.State != SegmentState::Complete && s.InPlan != 0) {
            return;  // a segment still running starts the next one when it ends
        }
    }
    if (first != nullptr &&
        static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                  static_cast<std::uint32_t>(first->SegTick)) > kLoneWaitMs) {
        startWaitingSegment();
    }
}
