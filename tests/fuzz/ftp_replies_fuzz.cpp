// A control connection's bytes, split into reads at places taken from the input, and every
// reply's values read as the session reads them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ftp/ftp_replies.h"
#include "engine/ftp/ftp_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FtpReplyReader reader;
    std::vector<FtpReply> replies;
    const qsizetype piece = size > 0 ? 1 + data[0] % 29 : 1;
    qsizetype fed = 0;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        const QByteArray read = bytes.mid(at, piece);
        fed += read.size();
        if (!reader.feed(read, replies)) {
            break;
        }
    }
    qsizetype taken = 0;
    for (const FtpReply& reply : replies) {
        taken += reply.text.size();
        if (reply.code < 0 || reply.code > 999) {
            __builtin_trap();
        }
        if (const auto address = ParsePassiveReply(reply.firstLine())) {
            if (address->port <= 0 || address->port > 65535) {
                __builtin_trap();
            }
        }
        (void)PwdDirectory(reply.firstLine());
        if (SizeReplyValue(reply.firstLine()) < 0 || OpeningReplySize(reply.firstLine()) < 0) {
            __builtin_trap();
        }
        const QByteArray command = FtpCommand("RETR", reply.text);
        if (command.indexOf('\n') != command.size() - 1 ||
            command.indexOf('\r') != command.size() - 2) {
            __builtin_trap();  // a reply's text can never add a second command
        }
    }
    if (taken > fed) {
        __builtin_trap();
    }
    return 0;
}
