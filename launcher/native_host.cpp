#include "launcher/native_host.h"

#include "launcher/native_message.h"

int ServeNativeMessages(QIODevice& in, QIODevice& out,
                        const std::function<QJsonObject(const NativeMessage::Request&)>& answer,
                        const std::function<QJsonObject()>& choices) {
    using NativeMessage::Frame;
    NativeMessage::Reader reader(in);
    for (;;) {
        const Frame frame = reader.next();
        switch (frame.kind) {
            case Frame::Kind::End:
                return 0;
            case Frame::Kind::TooLong:
                NativeMessage::Write(
                    out, NativeMessage::ErrorAnswer(QStringLiteral("message of %1 bytes is over %2")
                                                        .arg(frame.length)
                                                        .arg(NativeMessage::MaxLength)));
                return 1;
            case Frame::Kind::Truncated:
                NativeMessage::Write(
                    out, NativeMessage::ErrorAnswer(QStringLiteral("message cut short")));
                return 1;
            case Frame::Kind::Message:
                break;
        }
        const NativeMessage::Request request = NativeMessage::Decode(frame.body);
        QJsonObject reply;
        if (!request.error.isEmpty()) {
            reply = NativeMessage::ErrorAnswer(request.error);
        } else if (request.asksChoices) {
            reply = choices ? choices()
                            : NativeMessage::ErrorAnswer(QStringLiteral("no choices to tell"));
        } else {
            reply = answer(request);
        }
        if (!NativeMessage::Write(out, reply)) {
            return 1;
        }
    }
}
