// Segment planning and HTTP transfer of a download session.
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/files/segment_files.h"
#include "engine/http/content_range.h"
#include "engine/http/head_end.h"
#include "engine/http/http_requests.h"
#include "engine/http/response_head.h"
#include "engine/session/download_session.h"
#include "engine/session/segment_plan.h"
#include "engine/session/session_prompts.h"
#include "net/socket_class.h"
#include "net/socket_module.h"

namespace {

// Milliseconds from `since` to `now` on the wrapping 32-bit tick; negative when `since` lies
// ahead (a deadline).
std::int32_t TicksSince(std::int32_t now, std::int32_t since) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                     static_cast<std::uint32_t>(since));
}

// Bytes a segment still has to fetch on its current connection.
std::int64_t Remaining(const SegmentRecord& s) {
    return s.EndPos.bytes() - s.StartPos.bytes() + 1 - s.Received.bytes();
}

// At least this much must arrive within the watchdog's 15 s for a segment to count as alive:
// 1 KiB in 30 s. A connection that only trickles is restarted like a silent one.
constexpr std::int64_t kAliveBytes = 512;

}  // namespace

void DownloadSession::ConnectSegmented() {
    DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    observer_.pauseButtonChanged(false, text(782));
    SegTimeOut.start();
    const bool ranges = r->RangesSupported == FlagTrue;
    observer_.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)) + u' ' +
                               (ranges ? QString() : u'(' + text(783) + u')'));
    const std::int32_t now = MillisecondTick();
    if (r->Resuming != 0 && r->SegmentCount >= 1) {
        r->Resuming = FlagFalse;
        // The ticks saved with the plan may be minutes old: a segment still waiting for its
        // turn to connect is not stalled, and the watchdog must not start it early.
        for (int j = 1; j <= r->SegmentCount; ++j) {
            r->Segments.at(j)->SegTick = now;
        }
        if (ranges) {
            startOverSegmentsWithoutTheirBytes();
        } else {
            // Without ranges the single segment can only start over.
            SegmentRecord& s = *r->Segments.at(1);
            s.StartPos = s.Received = s.Done = Currency{};
            s.SegFlagB = 0;
            s.State = SegmentState::Idle;
            r->BytesDone = Currency{};
            r->Percent = 0;
            r->ElapsedSeconds = 0;
            r->RemainingSeconds = 0;
            r->LastTick = now;
        }
    } else {
        r->Resuming = FlagFalse;
        const bool limiter =
            ctx_.settings.UseSpeedLimiter == FlagTrue && ctx_.settings.SpeedLimiter > 0;
        const int count = sizeKnown_ || r->FileSize.bytes() > 0
                              ? PlannedSegmentCount(r->FileSize.bytes(), ctx_.settings.MaxSegments,
                                                    ranges, limiter)
                              : 1;
        PlanSegments(*r, count, now, ctx_.settings.TempFolder);
    }
    observer_.segmentsPlanned(r->SegmentCount);
    if (sizeKnown_ && r->FileSize.bytes() == 0) {
        // An empty file: nothing to fetch, only an empty target to make.
        for (int j = 1; j <= r->SegmentCount; ++j) {
            r->Segments.at(j)->State = SegmentState::Complete;
        }
        QTimer::singleShot(0, this, [this] {
            if (DownloadRecord* r = record()) {
                r->Transferring = FlagFalse;
                r->Running = FlagFalse;
                BuildOutputFile();
            }
        });
        return;
    }
    connectNextSegment(1);
}

void DownloadSession::startOverSegmentsWithoutTheirBytes() {
    DownloadRecord* r = record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        SegmentRecord& s = *r->Segments.at(j);
        const std::int64_t stored = s.State == SegmentState::Complete
                                        ? s.Length.bytes()
                                        : s.Done.bytes() + s.Received.bytes();
        if (stored <= 0 || QFileInfo(s.PartFile).size() >= stored) {
            continue;
        }
        r->BytesDone =
            Currency::fromBytes(std::max<std::int64_t>(0, r->BytesDone.bytes() - stored));
        s.StartPos = Currency::fromBytes(s.EndPos.bytes() - s.Length.bytes() + 1);
        s.Done = s.Received = Currency{};
        s.State = SegmentState::Idle;
    }
}

void DownloadSession::connectNextSegment(int from) {
    DownloadRecord* r = record();
    if (r == nullptr || r->Paused == FlagTrue) {
        return;
    }
    int j = from;
    while (j <= r->SegmentCount && r->Segments.at(j)->State == SegmentState::Complete) {
        ++j;
    }
    if (j > r->SegmentCount) {
        observer_.segmentRowsChanged(0);
        observer_.pauseButtonChanged(true, text(782));
        if (r->FileName.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive)) {
            observer_.zipPreviewOffered(text(768));
        }
        observer_.entryChanged(RecordIndex);
        // A download resumed with every segment stored (its join was cut short, or found no
        // room) has nothing to fetch, only its file to build.
        if (from == 1) {
            buildWhenAllComplete();
        }
        return;
    }
    const int k = j - 1;
    SocketClass& socket = slots_[k].socket();
    socket.SetEventSocket(sockGlobal());
    socket.CloseSocket();
    slots_[k].forgetConnection();
    // The watchdog may have started this segment already; its new request begins after what
    // that connection stored.
    forgetConnectionProgress(*r->Segments.at(j));
    r->Segments.at(j)->SegTick = MillisecondTick();
    connectTo(socket);
    if (SocketEntry* e = ctx_.sockets.entry(socket.SocketIndex)) {
        e->RateLimited = 0;
    }
    // Servers take a burst of connections badly: the next segment follows 0.2 s later.
    connectPacer_.disconnect();
    connect(&connectPacer_, &QTimer::timeout, this, [this, j] { connectNextSegment(j + 1); });
    connectPacer_.start(200);
}

void DownloadSession::SegmentData_Connect(SocketClass* socket) {
    const int k = slots_.slotOf(socket);
    DownloadRecord* r = record();
    if (k < 0 || r == nullptr || k >= r->SegmentCount) {
        return;
    }
    SegmentRecord& s = *r->Segments.at(k + 1);
    s.State = SegmentState::Connecting;
    observer_.segmentRowsChanged(k + 1);
    if (r->Protocol == Protocol::Ftp) {
        // The dialogue starts with the server's greeting.
        s.SegTick = MillisecondTick() + 5000;
        observer_.entryChanged(RecordIndex);
        return;
    }
    const HttpRequestTarget target = requestTarget(*r);
    const bool ranged = r->RangesSupported == FlagTrue;
    socket->SendData(ranged ? SegmentRequest(target, s.StartPos.bytes(), s.EndPos.bytes())
                            : WholeFileRequest(target));
    const std::int32_t now = MillisecondTick();
    // The first data may take 20 s: the watchdog allows 15 s after this deadline.
    s.SegTick = now + 5000;
    r->LastTick = now;
    observer_.entryChanged(RecordIndex);
}

bool DownloadSession::acceptSegmentHead(int k, const QByteArray& headBytes) {
    DownloadRecord* r = record();
    const SegmentRecord& s = *r->Segments.at(k + 1);
    const ResponseHead head = ParseResponseHead(headBytes);
    Incoming& in = slots_[k].incoming;
    bool accepted = false;
    if (head.status == 206) {
        const auto range = FindContentRange(headBytes);
        accepted = range && range->first == s.StartPos.bytes();
    } else if (head.status == 200) {
        accepted = r->SegmentCount == 1 && s.StartPos.bytes() == 0;
        in.refusedRange = !accepted;
    }
    if (!accepted) {
        return false;
    }
    in.bodyEnd = head.chunked                              ? BodyEnd::Chunked
                 : !sizeKnown_ && r->FileSize.bytes() == 0 ? BodyEnd::AtClose
                                                           : BodyEnd::AtLength;
    if (r->SegmentCount == 1) {
        if (SocketEntry* e = ctx_.sockets.entry(slots_[k].socket().SocketIndex)) {
            e->RateLimited = 1;
        }
    }
    return true;
}

void DownloadSession::SegmentData_DataReceived(SocketClass* socket, std::int32_t numbytes) {
    const int k = slots_.slotOf(socket);
    if (k < 0) {
        if (const int dk = slots_.dataSlotOf(socket); dk >= 0) {
            SegmentData_DataReceivedFTP(dk, numbytes);
        }
        return;
    }
    DownloadRecord* r = record();
    if (r == nullptr || k >= r->SegmentCount) {
        return;
    }
    if (r->Protocol == Protocol::Ftp) {
        FTPSystem(k);
        return;
    }
    QByteArray data = socket->GetData();
    const SegmentRecord& s = *r->Segments.at(k + 1);
    // Late data of a paused, complete or restarted segment is never written.
    if (r->Paused == FlagTrue || s.State == SegmentState::Complete ||
        s.State == SegmentState::Paused || s.State == SegmentState::Idle) {
        return;
    }
    Incoming& in = slots_[k].incoming;
    if (!in.headDone) {
        in.head += data;
        qsizetype bodyStart = 0;
        const qsizetype end = FindHeadEnd(in.head, bodyStart);
        if (end < 0) {
            if (in.head.size() > MaxHeadBytes) {
                socket->CloseSocket();  // the watchdog tries again
            }
            return;
        }
        if (!acceptSegmentHead(k, in.head.left(end + 2))) {
            socket->CloseSocket();
            if (in.refusedRange) {
                fallBackToOneSegment();
            }
            return;
        }
        in.headDone = true;
        data = in.head.mid(bodyStart);
        in.head.clear();
    }
    if (in.bodyEnd == BodyEnd::Chunked) {
        QByteArray body;
        const ChunkedDecoder::Result result = in.chunks.feed(data.constData(), data.size(), body);
        storeSegmentData(k, body.constData(), body.size());
        if (result == ChunkedDecoder::Result::Done) {
            segmentBodyEnded(k);
        } else if (result == ChunkedDecoder::Result::Error) {
            // Asking again brings the same damaged body: the download waits, paused, with
            // what it stored, instead of being fetched again every 15 s for ever.
            const QString why = QStringLiteral("the server sent a damaged chunked body");
            lastProblem_ = why;
            PauseDownload();
            ctx_.prompts.showMessage(QStringLiteral("The server sent a damaged chunked body."),
                                     SessionPrompts::Icon::Critical);
            observer_.sessionClosed(why);
        }
        return;
    }
    storeSegmentData(k, data.constData(), data.size());
}

void DownloadSession::storeSegmentData(int k, const char* data, qsizetype length) {
    DownloadRecord* r = record();
    if (r == nullptr || length <= 0) {
        return;
    }
    SegmentRecord& s = *r->Segments.at(k + 1);
    ConnectionSlot& slot = slots_[k];
    const bool bounded = slot.incoming.bodyEnd == BodyEnd::AtLength;
    // Bytes beyond the range asked for belong to no segment.
    if (bounded) {
        length = static_cast<qsizetype>(std::min<std::int64_t>(length, Remaining(s)));
    }
    const std::int32_t now = MillisecondTick();
    s.State = SegmentState::Receiving;
    SegmentFiles& files = ctx_.files;
    const std::int32_t file = slot.partFile(s.PartFile, now);
    // A part file that cannot be opened (no descriptor left, say) stores nothing either.
    const bool opened = file > 0;
    if (opened) {
        files.VelmoraSeekFile(file, s.Done + s.Received);
    }
    if (!opened ||
        files.VelmoraWriteFile(file, data, static_cast<std::int32_t>(length)) != length) {
        const int error = opened ? files.lastErrno(file) : files.lastOpenErrno();
        const QString why = error == ENOSPC || error == EDQUOT
                                ? QStringLiteral("disk full: cannot write %1").arg(s.PartFile)
                                : QStringLiteral("cannot write %1: %2")
                                      .arg(s.PartFile, QString::fromLocal8Bit(strerror(error)));
        lastProblem_ = why;
        // Nothing is counted that did not reach the part file; the download waits, paused.
        PauseDownload();
        ctx_.prompts.showMessage(why, SessionPrompts::Icon::Critical);
        observer_.sessionClosed(why);
        return;
    }
    // Reopening puts the data on disk about once a second; FTP segments do it when asked to.
    const bool reopen = r->Protocol != Protocol::Ftp || ctx_.settings.SafeDisk == FlagTrue;
    if (reopen) {
        slot.reopenPartFileEverySecond(s.PartFile, now);
    }
    s.Received += Currency::fromBytes(length);
    r->BytesDone += Currency::fromBytes(length);
    if (r->FileSize.bytes() > 0) {
        r->Percent = static_cast<float>(double(r->BytesDone.bytes()) * 100 / r->FileSize.bytes());
    }
    r->ElapsedSeconds += static_cast<float>(TicksSince(now, r->LastTick)) / 1000.0f;
    r->LastTick = now;
    slot.incoming.sinceAlive += length;
    if (slot.incoming.sinceAlive >= kAliveBytes) {
        s.SegTick = now;
        slot.incoming.sinceAlive = 0;
    }
    if (r->BytesDone.bytes() > 0 && r->ElapsedSeconds > 0 && r->FileSize.bytes() > 0) {
        const double rate = double(r->BytesDone.bytes()) / r->ElapsedSeconds;
        r->RemainingSeconds =
            static_cast<float>(double(r->FileSize.bytes() - r->BytesDone.bytes()) / rate);
    }
    if (TicksSince(now, LastRefreshTick) > 199) {
        LastRefreshTick = now;
        observer_.progressChanged();
    }
    if (bounded && Remaining(s) <= 0) {
        segmentComplete(k);
    }
}

void DownloadSession::segmentBodyEnded(int k) {
    DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    // The size was unknown: the body's end fixes it.
    SegmentRecord& s = *r->Segments.at(k + 1);
    const std::int64_t total = s.Done.bytes() + s.Received.bytes();
    s.EndPos = Currency::fromBytes(s.StartPos.bytes() + s.Received.bytes() - 1);
    s.Length = Currency::fromBytes(total);
    r->FileSize = Currency::fromBytes(total);
    r->Percent = 100;
    segmentComplete(k);
}

void DownloadSession::segmentComplete(int k) {
    DownloadRecord* r = record();
    slots_[k].close();
    r->Segments.at(k + 1)->State = SegmentState::Complete;
    observer_.segmentRowsChanged(0);
    if (r->Protocol == Protocol::Ftp && !allSegmentsComplete()) {
        ftpStartWaitingSegment();  // the session this segment leaves free
    }
    buildWhenAllComplete();
}

bool DownloadSession::allSegmentsComplete() {
    const DownloadRecord* r = record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        if (s.State != SegmentState::Complete && s.InPlan != 0) {
            return false;
        }
    }
    return true;
}

void DownloadSession::buildWhenAllComplete() {
    DownloadRecord* r = record();
    if (!allSegmentsComplete() || assembling_ || r->Completed == FlagTrue) {
        return;
    }
    r->Transferring = FlagFalse;
    r->Running = FlagFalse;
    observer_.pauseButtonChanged(false, text(782));
    observer_.stateLabelChanged(text(520));
    observer_.progressChanged();
    QTimer::singleShot(0, this, &DownloadSession::BuildOutputFile);
}

void DownloadSession::fallBackToOneSegment() {
    DownloadRecord* r = record();
    for (int j = 1; j <= r->SegmentCount; ++j) {
        const SegmentRecord& s = *r->Segments.at(j);
        if (s.State != SegmentState::Complete && !slots_[j - 1].incoming.refusedRange) {
            return;  // some segment still may get its range
        }
    }
    // The server answers every range with the whole file: fetch it once, as one segment.
    for (int k = 0; k < r->SegmentCount; ++k) {
        slots_[k].close();
        QFile::remove(r->Segments.at(k + 1)->PartFile);
    }
    r->RangesSupported = FlagFalse;
    r->BytesDone = Currency{};
    r->Percent = 0;
    PlanSegments(*r, 1, MillisecondTick(), ctx_.settings.TempFolder);
    observer_.segmentsPlanned(1);
    observer_.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)) + QStringLiteral(" (") + text(783) +
                               u')');
    connectNextSegment(1);
}
