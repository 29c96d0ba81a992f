#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "engine/http/chunked_decoder.h"

// Reads one HTTP answer from the bytes as they come, in pieces of any size: the head, then a
// body ended by its Content-Length, its last chunk or the connection's close. A head over
// MaxHttpHeadBytes is refused rather than held; so is a body over its bound, unless only the
// bound's worth is wanted, in which case the answer is whole once that much came.
class WholeAnswerReader {
public:
    static constexpr qsizetype MaxBytes = 64 * 1024;
    enum class State { NeedMore, Done, Failed, Stopped };
    // Why it failed: bytes that are no answer (or too many), a close before the end, or the
    // head check's refusal.
    enum class Fault { None, Damaged, Cut, Refused };
    // Looks at the whole head before any body byte is taken: empty to go on, else why not.
    using HeadCheck = std::function<QString(const QByteArray& head)>;
    // Takes the body's bytes in order instead of holding them; false stops the reading
    // (State::Stopped), its owner knowing why.
    using Sink = std::function<bool(const char* bytes, qsizetype length)>;
    struct Bound {
        qsizetype maxBody = MaxBytes;
        bool enoughAtMax = false;  // the first maxBody bytes are all that is wanted
    };

    WholeAnswerReader() = default;
    WholeAnswerReader(Bound bound, HeadCheck check, Sink sink)
        : bound_(bound), check_(std::move(check)), sink_(std::move(sink)) {}

    State feed(const QByteArray& bytes);
    // The connection closed; `clean` is false for a TLS connection closed without
    // close_notify, after which a body without a length is not known to be whole.
    State closed(bool clean);

    State state() const { return state_; }
    int status() const { return status_; }  // 0 until the head has come
    const QByteArray& head() const { return head_; }
    const QByteArray& body() const { return body_; }  // empty when a sink took it
    qint64 bodyBytes() const { return taken_; }
    Fault fault() const { return fault_; }
    QString problem() const { return problem_; }  // why it failed, for the log and messages

private:
    State fail(Fault fault, const QString& why);
    State takeBody(const char* bytes, qsizetype length);
    // Holds or hands on body bytes within the bound.
    State keep(const char* bytes, qsizetype length);

    Bound bound_;
    HeadCheck check_;
    Sink sink_;
    State state_ = State::NeedMore;
    QByteArray head_;
    bool inBody_ = false;
    int status_ = 0;
    std::optional<qint64> length_;  // Content-Length
    bool chunked_ = false;
    ChunkedDecoder chunks_;
    QByteArray body_;
    qint64 taken_ = 0;
    Fault fault_ = Fault::None;
    QString problem_;
};
