#include "archive/raw_inflater.h"

#include <QtGlobal>

RawInflater::RawInflater() : buffer_(64 * 1024, Qt::Uninitialized) {
    ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    if (!ready_) {
        error_ = QStringLiteral("zlib could not start");
    }
}

RawInflater::~RawInflater() {
    if (ready_) {
        inflateEnd(&stream_);
    }
}

RawInflater::Status RawInflater::feed(const char* bytes, size_t length, const Output& out) {
    if (!ready_) {
        return Status::Error;
    }
    if (ended_) {
        if (length == 0) {
            return Status::End;
        }
        error_ = QStringLiteral("data after the end of the deflated stream");
        return Status::Error;
    }
    while (length > 0) {
        // zlib counts in uInt: a larger piece goes in parts.
        const auto part = static_cast<uInt>(qMin<size_t>(length, 1u << 30));
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
        stream_.avail_in = part;
        bytes += part;
        length -= part;
        do {
            stream_.next_out = reinterpret_cast<Bytef*>(buffer_.data());
            stream_.avail_out = static_cast<uInt>(buffer_.size());
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                error_ = QStringLiteral("damaged deflated data (%1)")
                             .arg(QString::fromLatin1(stream_.msg != nullptr ? stream_.msg : "?"));
                return Status::Error;
            }
            const size_t produced = size_t(buffer_.size()) - stream_.avail_out;
            if (produced > 0 && !out(buffer_.constData(), produced)) {
                return Status::Stopped;
            }
            if (status == Z_STREAM_END) {
                ended_ = true;
                if (stream_.avail_in > 0 || length > 0) {
                    error_ = QStringLiteral("data after the end of the deflated stream");
                    return Status::Error;
                }
                return Status::End;
            }
            if (status == Z_BUF_ERROR && produced == 0) {
                break;  // no progress possible: all input taken, more is needed
            }
        } while (stream_.avail_in > 0 || stream_.avail_out == 0);
    }
    return Status::More;
}
