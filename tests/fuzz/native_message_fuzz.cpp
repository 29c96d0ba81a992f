// A browser's stream to the launcher: frames and messages of any content.
#include <QBuffer>
#include <cstddef>
#include <cstdint>

#include "launcher/native_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    NativeMessage::Reader reader(in);
    for (int frames = 0; frames < 1000; ++frames) {
        const NativeMessage::Frame frame = reader.next();
        if (frame.kind != NativeMessage::Frame::Kind::Message) {
            break;
        }
        if (frame.body.size() > qsizetype(NativeMessage::MaxLength)) {
            __builtin_trap();
        }
        const NativeMessage::Request request = NativeMessage::Decode(frame.body);
        // Exactly one of an address, the question and a reason.
        if (int(!request.url.isEmpty()) + int(request.asksChoices) +
                int(!request.error.isEmpty()) !=
            1) {
            __builtin_trap();
        }
    }
    return 0;
}
