#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "engine/http/chunked_decoder.h"

// Reads one small HTTP answer whole from the bytes as they come, in pieces of any size: the
// head, then a body ended by its Content-Length, its last chunk or the connection's close.
// A head or body over MaxBytes is refused rather than held.
class WholeAnswerReader {
public:
    static constexpr qsizetype MaxBytes = 64 * 1024;
    enum class State { NeedMore, Done, Failed };

    State feed(const QByteArray& bytes);
    // The connection closed; `clean` is false for a TLS connection closed without
    // close_notify, after which a body without a length is not known to be whole.
    State closed(bool clean);

    State state() const { return state_; }
    int status() const { return status_; }  // 0 until the head has come
    const QByteArray& body() const { return body_; }
    QString problem() const { return problem_; }  // why it failed, for the log and messages

private:
    State fail(const QString& why);
    State takeBody(const char* bytes, qsizetype length);

    State state_ = State::NeedMore;
    QByteArray head_;
    bool inBody_ = false;
    int status_ = 0;
    std::optional<qint64> length_;  // Content-Length
    bool chunked_ = false;
    ChunkedDecoder chunks_;
    QByteArray body_;
    QString problem_;
};
