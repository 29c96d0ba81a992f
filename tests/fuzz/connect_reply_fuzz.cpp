// A proxy's answer to CONNECT, whatever it holds, whole and as it would arrive in two reads.
#include <cstddef>
#include <cstdint>

#include "net/connect_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ConnectReply whole = ParseConnectReply(bytes);
    if (whole.status == ConnectReply::Status::Complete) {
        // The head lies inside what came and inside the limit, and the code is three digits.
        if (whole.headLength <= 0 || whole.headLength > bytes.size() ||
            whole.headLength > MaxConnectReplyHead || whole.code < 0 || whole.code > 999 ||
            !bytes.startsWith(whole.statusLine)) {
            __builtin_trap();
        }
    }
    // Cut where the first byte says: a head complete in part must be the same head whole, and
    // an answer malformed in part stays malformed.
    const qsizetype cut = size > 0 ? data[0] % (bytes.size() + 1) : 0;
    const ConnectReply part = ParseConnectReply(bytes.first(cut));
    if (part.status == ConnectReply::Status::Complete &&
        (whole.status != part.status || whole.headLength != part.headLength)) {
        __builtin_trap();
    }
    if (part.status == ConnectReply::Status::Malformed &&
        whole.status != ConnectReply::Status::Malformed) {
        __builtin_trap();
    }
    return 0;
}
