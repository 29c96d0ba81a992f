#include "engine/http/whole_answer.h"

#include "engine/http/head_end.h"
#include "engine/http/response_head.h"

namespace {

QString BoundWords(qsizetype bytes) {
    return bytes % 1024 == 0 ? QStringLiteral("%1 KiB").arg(bytes / 1024)
                             : QStringLiteral("%1 bytes").arg(bytes);
}

}  // namespace

WholeAnswerReader::State WholeAnswerReader::feed(const QByteArray& bytes) {
    if (state_ != State::NeedMore) {
        return state_;
    }
    if (inBody_) {
        return takeBody(bytes.constData(), bytes.size());
    }
    head_ += bytes;
    qsizetype bodyStart = 0;
    const qsizetype end = FindHeadEnd(head_, bodyStart);
    if (end < 0) {
        return head_.size() > MaxHttpHeadBytes
                   ? fail(Fault::Damaged, QStringLiteral("the answer's header has no end within %1")
                                              .arg(BoundWords(MaxHttpHeadBytes)))
                   : state_;
    }
    const QByteArray rest = head_.mid(bodyStart);
    head_.truncate(end + 2);
    const ResponseHead head = ParseResponseHead(head_);
    status_ = head.status;
    if (status_ == 0) {
        return fail(Fault::Damaged, QStringLiteral("the answer is not HTTP"));
    }
    if (check_) {
        const QString refusal = check_(head_);
        if (!refusal.isEmpty()) {
            return fail(Fault::Refused, refusal);
        }
    }
    chunked_ = head.chunked;
    if (head.hasContentLength && !chunked_) {
        if (head.contentLength > bound_.maxBody && !bound_.enoughAtMax) {
            return fail(Fault::Damaged, QStringLiteral("the answer's body of %1 bytes is over %2")
                                            .arg(head.contentLength)
                                            .arg(BoundWords(bound_.maxBody)));
        }
        length_ = head.contentLength;
    }
    inBody_ = true;
    return takeBody(rest.constData(), rest.size());
}

WholeAnswerReader::State WholeAnswerReader::takeBody(const char* bytes, qsizetype length) {
    if (chunked_) {
        QByteArray decoded;
        const ChunkedDecoder::Result result = chunks_.feed(bytes, length, decoded);
        if (result == ChunkedDecoder::Result::Error) {
            return fail(Fault::Damaged, QStringLiteral("the answer's chunks are damaged"));
        }
        if (keep(decoded.constData(), decoded.size()) == State::NeedMore &&
            result == ChunkedDecoder::Result::Done) {
            state_ = State::Done;
        }
        return state_;
    }
    if (length_) {
        // Anything after the announced length is not this answer's.
        if (keep(bytes, std::min<qint64>(length, *length_ - taken_)) == State::NeedMore &&
            taken_ == *length_) {
            state_ = State::Done;
        }
        return state_;
    }
    return keep(bytes, length);
}

WholeAnswerReader::State WholeAnswerReader::keep(const char* bytes, qsizetype length) {
    if (taken_ + length > bound_.maxBody) {
        if (!bound_.enoughAtMax) {
            return fail(
                Fault::Damaged,
                QStringLiteral("the answer's body is over %1").arg(BoundWords(bound_.maxBody)));
        }
        length = static_cast<qsizetype>(bound_.maxBody - taken_);
    }
    taken_ += length;
    if (sink_) {
        if (length > 0 && !sink_(bytes, length)) {
            state_ = State::Stopped;
            return state_;
        }
    } else {
        body_.append(bytes, length);
    }
    if (bound_.enoughAtMax && taken_ == bound_.maxBody) {
        state_ = State::Done;
    }
    return state_;
}

WholeAnswerReader::State WholeAnswerReader::closed(bool clean) {
    if (state_ != State::NeedMore) {
        return state_;
    }
    if (!inBody_) {
        return fail(Fault::Cut, head_.isEmpty()
                                    ? QStringLiteral("the connection closed without an answer")
                                    : QStringLiteral("the connection closed inside the header"));
    }
    if (chunked_ || length_) {
        return fail(Fault::Cut,
                    QStringLiteral("the connection closed after %1 bytes of the body").arg(taken_));
    }
    if (!clean) {
        return fail(Fault::Cut,
                    QStringLiteral("the connection closed without TLS close_notify, so the "
                                   "body is not known to be whole"));
    }
    state_ = State::Done;
    return state_;
}

WholeAnswerReader::State WholeAnswerReader::fail(Fault fault, const QString& why) {
    state_ = State::Failed;
    fault_ = fault;
    problem_ = why;
    body_.clear();
    return state_;
}
