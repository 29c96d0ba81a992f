#include "engine/session/http_segments.h"

#include <QTimer>
#include <algorithm>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/file_identity.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/http/content_range.h"
#include "engine/http/head_end.h"
#include "engine/http/http_requests.h"
#include "engine/http/http_status.h"
#include "engine/http/response_head.h"
#include "engine/session/busy_wait.h"
#include "engine/session/download_identity.h"
#include "engine/session/failure_words.h"
#include "engine/session/segment_connections.h"
#include "engine/session/segment_writer.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"
#include "engine/session/session_watchdog.h"
#include "net/socket_class.h"
#include "net/socket_module.h"

void HttpSegments::sendRequest(SocketClass& socket, int k) {
    DownloadRecord* r = core_.record();
    SegmentRecord& s = *core_.servedSegment(k);
    HttpRequestTarget target = core_.requestTarget(*r);
    target.ifRange = IfRangeValue(ReadIdentity(*r));
    core_.connections[k].incoming.proxyLoginSent = !target.proxyAuthorization.isEmpty();
    const bool ranged = r->RangesSupported == FlagTrue;
    qCInfo(lcEngine).noquote()
        << SegmentTag(core_.recordIndex, core_.segmentOf(k)) << "GET"
        << UrlForDisplay(DecodeUrl(r->Url))
        << (ranged
                ? QStringLiteral("range bytes=%1-%2").arg(s.StartPos.bytes()).arg(s.EndPos.bytes())
                : QStringLiteral("whole file"));
    socket.SendData(ranged ? SegmentRequest(target, s.StartPos.bytes(), s.EndPos.bytes())
                           : WholeFileRequest(target));
    const std::int32_t now = MillisecondTick();
    // The first data may take 20 s: the watchdog allows its silence time after this deadline.
    s.SegTick = now + SessionWatchdog::FirstAnswerGraceMs;
    r->LastTick = now;
    core_.observer.entryChanged(core_.recordIndex);
}

bool HttpSegments::acceptHead(int k, const ResponseHead& head, const QByteArray& headBytes,
                              QString& refusal) {
    DownloadRecord* r = core_.record();
    const SegmentRecord& s = *core_.servedSegment(k);
    Incoming& in = core_.connections[k].incoming;
    const bool body = head.status == HttpStatus::PartialContent || head.status == HttpStatus::Ok;
    if (!head.badHeaderLine && !sameFile(head, headBytes)) {
        return false;
    }
    if (head.badHeaderLine) {
        refusal = QLatin1String(SessionReason::BadHeaderLine);
    } else if (body) {
        refusal = UnaskedEncoding(head);
    }
    bool accepted = false;
    if (refusal.isEmpty() && head.status == HttpStatus::PartialContent) {
        // A range asked for may come shorter (the rest is asked for again); the whole file,
        // asked for without a range, may not.
        const bool ranged = r->RangesSupported == FlagTrue;
        const std::int64_t total = core_.sizeKnown() ? r->FileSize.bytes() : -1;
        const std::int64_t last = ranged ? s.EndPos.bytes() : total < 0 ? -1 : total - 1;
        const auto range = FindContentRange(headBytes);
        refusal = RangeRefusal(range, s.StartPos.bytes(), last, total, ranged);
        accepted = refusal.isEmpty();
        if (accepted && last >= 0 && range->last < last) {
            in.answerLeft = range->last - range->first + 1;
        }
    } else if (refusal.isEmpty() && head.status == HttpStatus::Ok) {
        accepted = r->SegmentCount == 1 && s.StartPos.bytes() == 0;
        in.refusedRange = !accepted;
    } else if (refusal.isEmpty() && HttpStatus::IsError(head.status)) {
        // Asked again a few times, then the download fails with it (an expired link's 403):
        // left alone, the segment would wait for the watchdog, which blames silence.
        refusal = FailureWords(HttpFailureCode(head.status));
    }
    qCInfo(lcEngine).noquote().nospace()
        << SegmentTag(core_.recordIndex, core_.segmentOf(k)) << " status " << head.status
        << (head.chunked ? ", chunked" : "")
        << (accepted            ? QStringLiteral(", accepted")
            : refusal.isEmpty() ? QStringLiteral(", refused: not the range asked for")
                                : ", refused: " + refusal);
    if (!accepted) {
        return false;
    }
    core_.connections[k].refusals = 0;
    segments_.answered(k);
    in.bodyEnd = head.chunked         ? BodyEnd::Chunked
                 : !core_.sizeKnown() ? BodyEnd::AtClose
                                      : BodyEnd::AtLength;
    if (r->SegmentCount == 1) {
        if (SocketEntry* e = core_.ctx.sockets.entry(core_.connections[k].socket().SocketIndex)) {
            e->RateLimited = 1;
        }
    }
    return true;
}

bool HttpSegments::busyExtraConnection(int k, int status) {
    // "Too many requests" or "unavailable" to one more connection, while others bring bytes,
    // says the server takes no more of them.
    return (status == HttpStatus::TooManyRequests || status == HttpStatus::ServiceUnavailable) &&
           segments_.stepDownAfterRefusal(k, QStringLiteral("status %1").arg(status));
}

bool HttpSegments::sameFile(const ResponseHead& head, const QByteArray& headBytes) {
    const DownloadRecord* r = core_.record();
    const FileIdentity identity = ReadIdentity(*r);
    const bool ifRangeSent = r->RangesSupported == FlagTrue && !IfRangeValue(identity).isEmpty();
    const SegmentVerdict verdict = JudgeSegmentAnswer(head, headBytes, ifRangeSent,
                                                      core_.sizeKnown() ? r->FileSize.bytes() : -1,
                                                      PageExpected(identity, r->FileName));
    if (verdict == SegmentVerdict::Same) {
        return true;
    }
    // Not one byte of this answer is written; the session decides once this handler is done.
    QTimer::singleShot(0, &core_.lifetime(), [this, verdict] {
        const DownloadRecord* r = core_.record();
        if (r == nullptr || HeldByPause(*r)) {
            return;
        }
        if (verdict == SegmentVerdict::WebPage) {
            session_.failWith(QLatin1String(SessionReason::NowWebPage));
        } else {
            session_.fileChanged(QStringLiteral("a segment's answer is of another version"));
        }
    });
    return false;
}

void HttpSegments::refused(int k, const QString& why) {
    ConnectionSlot& slot = core_.connections[k];
    if (++slot.refusals >= MaxRefusals) {
        session_.failWith(why);
        return;
    }
    segments_.restartSoon(k, "asks again after a wrong answer at");
}

bool HttpSegments::proxyAsksLogin(int k, int status) {
    if (status != HttpStatus::ProxyAuthenticationRequired) {
        return false;
    }
    core_.connections[k].socket().CloseSocket();
    const QString refused = core_.proxyAsksLogin(core_.connections[k].incoming.proxyLoginSent);
    if (refused.isEmpty()) {
        segments_.restartSoon(k, "asks again with the proxy's login at");
    } else {
        session_.failWith(refused);
    }
    return true;
}

bool HttpSegments::putOff(int k, int status, const QByteArray& headBytes) {
    if (!Busy::TransientStatus(status)) {
        return false;
    }
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                               << QStringLiteral("status %1, put off").arg(status);
    segments_.waitBusy(k, Busy::RetryAfterMs(headBytes, QDateTime::currentDateTimeUtc()),
                       FailureWords(HttpFailureCode(status)));
    return true;
}

void HttpSegments::store(int k, const char* data, qsizetype length) {
    Incoming& in = core_.connections[k].incoming;
    if (in.answerLeft < 0) {
        if (writer_.store(k, data, length)) {
            segments_.complete(k);
        }
        return;
    }
    // What runs past the range the answer names is no byte of it.
    length = std::min<qsizetype>(length, in.answerLeft);
    in.answerLeft -= length;
    if (writer_.store(k, data, length)) {
        segments_.complete(k);
    }
    const SegmentRecord* s = core_.servedSegment(k);
    if (in.answerLeft == 0 && s != nullptr && s->State == SegmentState::Receiving) {
        segments_.restart(core_.segmentOf(k), "got a shorter range: asks again for the rest at");
    }
}

void HttpSegments::takeData(SocketClass& socket, int k) {
    DownloadRecord* r = core_.record();
    QByteArray data = socket.GetData();
    const SegmentRecord* s = core_.servedSegment(k);
    // Late data of a paused, complete or restarted segment is never written.
    if (HeldByPause(*r) || s == nullptr || s->State == SegmentState::Complete ||
        s->State == SegmentState::Paused || s->State == SegmentState::Idle) {
        return;
    }
    Incoming& in = core_.connections[k].incoming;
    if (!in.headDone) {
        in.head += data;
        qsizetype bodyStart = 0;
        const qsizetype end = FindHeadEnd(in.head, bodyStart);
        if (end < 0) {
            if (in.head.size() > MaxHttpHeadBytes) {
                qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                                           << "the answer's head has no end: closed";
                socket.CloseSocket();  // the watchdog tries again
            }
            return;
        }
        const QByteArray headBytes = in.head.left(end + 2);
        const ResponseHead head = ParseResponseHead(headBytes);
        // A busy answer to an extra connection while others work is the server's limit on
        // connections (fewer are asked for); to the only working one it is a wait.
        if (busyExtraConnection(k, head.status)) {
            socket.CloseSocket();
            return;
        }
        if (putOff(k, head.status, headBytes) || proxyAsksLogin(k, head.status)) {
            return;
        }
        QString refusal;
        if (!acceptHead(k, head, headBytes, refusal)) {
            socket.CloseSocket();
            if (in.refusedRange) {
                segments_.fallBackToOneSegment();
            } else if (!refusal.isEmpty()) {
                refused(k, refusal);
            }
            return;
        }
        in.headDone = true;
        data = in.head.mid(bodyStart);
        in.head.clear();
    }
    if (in.bodyEnd == BodyEnd::Chunked) {
        takeChunks(k, data);
        return;
    }
    store(k, data.constData(), data.size());
}

void HttpSegments::takeChunks(int k, const QByteArray& data) {
    QByteArray body;
    const ChunkedDecoder::Result result =
        core_.connections[k].incoming.chunks.feed(data.constData(), data.size(), body);
    store(k, body.constData(), body.size());
    if (result == ChunkedDecoder::Result::Done) {
        if (!core_.sizeKnown()) {
            segments_.bodyEnded(k);
            return;
        }
        // The file's size is known: the last chunk ends this answer, never the file. Cut short
        // of its range, the segment asks again for the rest.
        const SegmentRecord* s = core_.servedSegment(k);
        if (s != nullptr && s->State == SegmentState::Receiving) {
            qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k))
                                       << "chunked answer ended short of its range";
            segments_.restart(core_.segmentOf(k), "asks again for the rest at");
        }
    } else if (result == ChunkedDecoder::Result::Error) {
        // Asking again brings the same damaged body: the download waits, paused, with what it
        // stored, instead of being fetched again every 15 s for ever.
        session_.stopPaused(QStringLiteral("the server sent a damaged chunked body"),
                            QStringLiteral("The server sent a damaged chunked body."));
    }
}
