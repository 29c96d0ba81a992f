#include "update/whole_answer.h"

#include "engine/http/head_end.h"
#include "engine/http/response_head.h"

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
        return head_.size() > MaxBytes
                   ? fail(QStringLiteral("the answer's header has no end within 64 KiB"))
                   : state_;
    }
    const QByteArray rest = head_.mid(bodyStart);
    head_.truncate(end + 2);
    const ResponseHead head = ParseResponseHead(head_);
    status_ = head.status;
    if (status_ == 0) {
        return fail(QStringLiteral("the answer is not HTTP"));
    }
    chunked_ = head.chunked;
    if (head.hasContentLength && !chunked_) {
        if (head.contentLength > MaxBytes) {
            return fail(QStringLiteral("the answer's body of %1 bytes is over 64 KiB")
                            .arg(head.contentLength));
        }
        length_ = head.contentLength;
    }
    inBody_ = true;
    return takeBody(rest.constData(), rest.size());
}

WholeAnswerReader::State WholeAnswerReader::takeBody(const char* bytes, qsizetype length) {
    if (chunked_) {
        const ChunkedDecoder::Result result = chunks_.feed(bytes, length, body_);
        if (result == ChunkedDecoder::Result::Error) {
            return fail(QStringLiteral("the answer's chunks are damaged"));
        }
        if (body_.size() > MaxBytes) {
            return fail(QStringLiteral("the answer's body is over 64 KiB"));
        }
        if (result == ChunkedDecoder::Result::Done) {
            state_ = State::Done;
        }
        return state_;
    }
    if (length_) {
        // Anything after the announced length is not this answer's.
        body_.append(bytes, std::min<qint64>(length, *length_ - body_.size()));
        if (body_.size() == *length_) {
            state_ = State::Done;
        }
        return state_;
    }
    if (body_.size() + length > MaxBytes) {
        return fail(QStringLiteral("the answer's body is over 64 KiB"));
    }
    body_.append(bytes, length);
    return state_;
}

WholeAnswerReader::State WholeAnswerReader::closed(bool clean) {
    if (state_ != State::NeedMore) {
        return state_;
    }
    if (!inBody_) {
        return fail(head_.isEmpty() ? QStringLiteral("the connection closed without an answer")
                                    : QStringLiteral("the connection closed inside the header"));
    }
    if (chunked_ || length_) {
        return fail(
            QStringLiteral("the connection closed after %1 bytes of the body").arg(body_.size()));
    }
    if (!clean) {
        return fail(
            QStringLiteral("the connection closed without TLS close_notify, so the "
                           "body is not known to be whole"));
    }
    state_ = State::Done;
    return state_;
}

WholeAnswerReader::State WholeAnswerReader::fail(const QString& why) {
    state_ = State::Failed;
    problem_ = why;
    body_.clear();
    return state_;
}
