// A server's answer, whatever it holds: the head parser, the head's end, the Content-Range
// reader and the chunked decoder fed the body in pieces.
#include <cstddef>
#include <cstdint>

#include "engine/http/chunked_decoder.h"
#include "engine/http/content_range.h"
#include "engine/http/head_end.h"
#include "engine/http/response_head.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ResponseHead head = ParseResponseHead(bytes);
    if (head.contentLength < -1) {
        __builtin_trap();  // a length is known (>= 0) or unknown (-1), never below
    }
    qsizetype bodyStart = 0;
    const qsizetype end = FindHeadEnd(bytes, bodyStart);
    if (end >= 0 && (bodyStart > bytes.size() || bodyStart <= end)) {
        __builtin_trap();
    }
    if (const auto range = FindContentRange(bytes)) {
        if (range->first > range->last || (range->total >= 0 && range->last >= range->total)) {
            __builtin_trap();
        }
    }
    // The body in pieces of a size taken from the first byte: a chunk header split anywhere.
    ChunkedDecoder decoder;
    QByteArray out;
    const qsizetype piece = size > 0 ? 1 + data[0] % 17 : 1;
    const QByteArray body = end >= 0 ? bytes.mid(bodyStart) : bytes;
    for (qsizetype at = 0; at < body.size(); at += piece) {
        const auto result =
            decoder.feed(body.constData() + at, std::min(piece, body.size() - at), out);
        if (result != ChunkedDecoder::Result::NeedMore) {
            break;
        }
    }
    if (out.size() > body.size()) {
        __builtin_trap();  // decoding never makes more bytes than came in
    }
    return 0;
}
