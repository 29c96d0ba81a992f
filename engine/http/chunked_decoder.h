#pragma once

#include <QByteArray>
#include <cstdint>

// Decodes a chunked HTTP body as it arrives, in pieces of any size. Chunk sizes that are not
// hexadecimal, are negative, absurdly large, or sit on an over-long line are rejected, so a
// hostile server can neither stall the decoder nor make it claim memory.
class ChunkedDecoder {
public:
    enum class Result { NeedMore, Done, Error };

    // Appends the body bytes found in `data` to `out`.
    Result feed(const char* data, qsizetype length, QByteArray& out);
    Result result() const { return result_; }

private:
    enum class Stage { Size, Data, DataEnd, Trailer };
    Stage stage_ = Stage::Size;
    QByteArray line_;
    std::int64_t left_ = 0;
    Result result_ = Result::NeedMore;
};
