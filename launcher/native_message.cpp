#include "launcher/native_message.h"

#include <QFileDevice>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QtEndian>
#include <utility>

namespace NativeMessage {

namespace {

constexpr qint64 LengthSize = sizeof(quint32);

Request Refused(const QString& why) {
    Request request;
    request.error = why;
    return request;
}

}  // namespace

QByteArray Reader::readUpTo(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 got = 0;
    while (got < size) {
        const qint64 read = in_.read(bytes.data() + got, size - got);
        if (read <= 0) {
            break;
        }
        got += read;
    }
    bytes.truncate(got);
    return bytes;
}

Frame Reader::next() {
    Frame frame;
    const QByteArray header = readUpTo(LengthSize);
    if (header.isEmpty()) {
        frame.kind = Frame::Kind::End;
        return frame;
    }
    if (header.size() < LengthSize) {
        frame.kind = Frame::Kind::Truncated;
        return frame;
    }
    frame.length = qFromUnaligned<quint32>(header.constData());
    if (frame.length > MaxLength) {
        frame.kind = Frame::Kind::TooLong;
        return frame;
    }
    frame.body = readUpTo(frame.length);
    frame.kind =
        frame.body.size() == qint64(frame.length) ? Frame::Kind::Message : Frame::Kind::Truncated;
    return frame;
}

QByteArray Encode(const QJsonObject& answer) {
    const QByteArray json = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    QByteArray frame(LengthSize, Qt::Uninitialized);
    qToUnaligned(quint32(json.size()), frame.data());
    return frame + json;
}

bool Write(QIODevice& out, const QJsonObject& answer) {
    const QByteArray frame = Encode(answer);
    if (out.write(frame) != frame.size()) {
        return false;
    }
    // The browser waits for the answer before it sends the next message.
    if (auto* file = qobject_cast<QFileDevice*>(&out)) {
        return file->flush();
    }
    return true;
}

Request Decode(const QByteArray& body) {
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parse);
    if (parse.error != QJsonParseError::NoError) {
        return Refused(QStringLiteral("not JSON: ") + parse.errorString());
    }
    if (!document.isObject()) {
        return Refused(QStringLiteral("not a JSON object"));
    }
    if (document.object().value(QLatin1String("ask")) == QLatin1String("mode")) {
        Request question;
        question.asksChoices = true;
        return question;
    }
    const QJsonObject message = document.object();
    const QJsonValue url = message.value(QLatin1String("url"));
    if (!url.isString()) {
        return Refused(QStringLiteral("no string \"url\""));
    }
    // As on the command line, an empty address means there is nothing to hand over.
    if (url.toString().isEmpty()) {
        return Refused(QStringLiteral("\"url\" is empty"));
    }
    Request request;
    request.url = url.toString();
    for (const auto& [name, text] :
         {std::pair{"referrer", &request.referrer}, std::pair{"cookie", &request.cookie}}) {
        const QJsonValue value = message.value(QLatin1String(name));
        if (!value.isUndefined() && !value.isString()) {
            return Refused(QStringLiteral("\"%1\" is not a string").arg(QLatin1String(name)));
        }
        *text = value.toString();
    }
    const QJsonValue via = message.value(QLatin1String("via"));
    if (via == QLatin1String("menu")) {
        request.via = Via::Menu;
    } else if (via == QLatin1String("download")) {
        request.via = Via::Download;
    } else if (!via.isUndefined()) {
        return Refused(QStringLiteral("\"via\" is neither \"menu\" nor \"download\""));
    }
    return request;
}

QJsonObject ResultAnswer(int result) {
    return {{QLatin1String("result"), result}};
}

QJsonObject ErrorAnswer(const QString& reason) {
    return {{QLatin1String("error"), reason}};
}

QJsonObject StartedAnswer() {
    return {{QLatin1String("started"), true}};
}

QJsonObject ChoicesAnswer(bool menuEntry, int mode) {
    return {{QLatin1String("BrowserIngeration"), menuEntry}, {QLatin1String("mode"), mode}};
}

}  // namespace NativeMessage
