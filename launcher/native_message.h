#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QJsonObject>
#include <QString>

// The native-messaging stream between a browser and its host: each message is a 32-bit
// length in native byte order followed by that many bytes of UTF-8 JSON. Nothing here knows
// where the bytes come from, so any byte sequence can be fed through it.
namespace NativeMessage {

// Browsers send at most 1 MiB to a host; a longer length means the stream is broken.
inline constexpr quint32 MaxLength = 1048576;

struct Frame {
    enum class Kind {
        Message,    // `body` holds a whole message
        End,        // the stream ended between messages
        TooLong,    // the length (in `length`) is over MaxLength
        Truncated,  // the stream ended inside a length or a body
    };
    Kind kind = Kind::End;
    QByteArray body;
    quint32 length = 0;
};

// Reads frames from a blocking device, one at a time.
class Reader {
public:
    explicit Reader(QIODevice& in) : in_(in) {}
    Frame next();

private:
    // Reads until `size` bytes are there or the device ends; returns what it got.
    QByteArray readUpTo(qint64 size);

    QIODevice& in_;
};

// Writes one answer as a frame; false when the device took less than all of it.
bool Write(QIODevice& out, const QJsonObject& answer);
// The framed bytes of one answer.
QByteArray Encode(const QJsonObject& answer);

// How an address came from the extension, which decides the call Brenloft gets.
enum class Via {
    Address,   // no "via": the address alone, through IEURL, as on the command line
    Menu,      // "via": "menu", the link menu entry: MenuURL with the page and the cookies
    Download,  // "via": "download", a download the browser gave up: the same, if IEURL would
               // take the address at all
};

// What a message asks: Brenloft to take an address, or what the user chose for the extension
// (the question {"ask": "mode"}); or why the message cannot be used.
struct Request {
    QString url;
    QString error;             // empty when the message is usable
    bool asksChoices = false;  // the question, rather than an address
    Via via = Via::Address;
    QString referrer;  // the page the address was found on ("referrer"), or empty
    QString cookie;    // the browser's Cookie header for the address ("cookie"), or empty
};
// A message is a JSON object with a non-empty string "url" (and, optionally, a "via" of "menu"
// or "download" and string "referrer" and "cookie"), or the question.
Request Decode(const QByteArray& body);

// The answers the host gives.
QJsonObject ResultAnswer(int result);
QJsonObject ErrorAnswer(const QString& reason);
// The address went to a Brenloft started for it; no result is known.
QJsonObject StartedAnswer();
// What the user chose: whether the link menu entry is installed ("BrowserIngeration") and
// which downloads the extension takes over ("mode", 0 to 3).
QJsonObject ChoicesAnswer(bool menuEntry, int mode);

}  // namespace NativeMessage
