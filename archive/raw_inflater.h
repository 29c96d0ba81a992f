#pragma once

#include <zlib.h>

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>

// A member's deflated bytes (raw deflate, as ZIP archives hold them) inflated piece by piece as
// they arrive, so that no member is ever held whole.
class RawInflater {
public:
    enum class Status {
        More,     // all input taken; the stream goes on
        End,      // the stream's last block is done
        Stopped,  // the output said stop
        Error,    // damaged data, or data after the stream's end; see error()
    };
    // Takes each piece of output; false stops the inflation.
    using Output = std::function<bool(const char* bytes, size_t length)>;

    RawInflater();
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;
    ~RawInflater();

    Status feed(const char* bytes, size_t length, const Output& out);
    bool ended() const { return ended_; }
    QString error() const { return error_; }

private:
    z_stream stream_{};
    bool ready_ = false;
    bool ended_ = false;
    QString error_;
    QByteArray buffer_;
};
