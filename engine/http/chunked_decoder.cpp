#include "engine/http/chunked_decoder.h"

#include <algorithm>

namespace {

constexpr qsizetype kMaxLine = 4096;
constexpr std::int64_t kMaxChunk = std::int64_t(1) << 40;

// The size at the start of a chunk line ("1a2b;ext=1"), or -1 when it is not one.
std::int64_t ChunkSize(const QByteArray& line) {
    qsizetype end = line.indexOf(';');
    QByteArray digits = (end < 0 ? line : line.left(end)).trimmed();
    if (digits.isEmpty() || digits.size() > 11) {
        return -1;
    }
    std::int64_t size = 0;
    for (const char c : digits) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return -1;
        }
        size = size * 16 + v;
    }
    return size <= kMaxChunk ? size : -1;
}

}  // namespace

ChunkedDecoder::Result ChunkedDecoder::feed(const char* data, qsizetype length, QByteArray& out) {
    qsizetype i = 0;
    while (i < length && result_ == Result::NeedMore) {
        if (stage_ == Stage::Data) {
            const qsizetype take =
                static_cast<qsizetype>(std::min<std::int64_t>(left_, length - i));
            out.append(data + i, take);
            i += take;
            left_ -= take;
            if (left_ == 0) {
                stage_ = Stage::DataEnd;
            }
            continue;
        }
        // The other stages read lines ending in LF (a CR before it is dropped).
        const char c = data[i++];
        if (c != '\n') {
            if (line_.size() >= kMaxLine) {
                result_ = Result::Error;
                break;
            }
            line_.append(c);
            continue;
        }
        if (line_.endsWith('\r')) {
            line_.chop(1);
        }
        switch (stage_) {
            case Stage::Size: {
                const std::int64_t size = ChunkSize(line_);
                if (size < 0) {
                    result_ = Result::Error;
                } else if (size == 0) {
                    stage_ = Stage::Trailer;
                } else {
                    left_ = size;
                    stage_ = Stage::Data;
                }
                break;
            }
            case Stage::DataEnd:
                // Each chunk's data is followed by an empty line.
                if (!line_.isEmpty()) {
                    result_ = Result::Error;
                }
                stage_ = Stage::Size;
                break;
            case Stage::Trailer:
                if (line_.isEmpty()) {
                    result_ = Result::Done;
                }
                break;
            case Stage::Data:
                break;
        }
        line_.clear();
    }
    return result_;
}
