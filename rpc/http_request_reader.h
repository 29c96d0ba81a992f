#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

// One HTTP/1.1 request of the remote control, as read from the wire.
struct HttpRequest {
    QByteArray method;                             // "POST", "GET", "OPTIONS"...
    QByteArray target;                             // "/jsonrpc?method=..."
    QByteArray version;                            // "HTTP/1.1"
    QList<QPair<QByteArray, QByteArray>> headers;  // names in lower case
    QByteArray body;

    // The first header of that (lower-case) name, or empty.
    QByteArray header(QByteArrayView name) const;
    QByteArray path() const;   // the target before any '?'
    QByteArray query() const;  // after it
    // HTTP/1.1 keeps the connection unless told to close; 1.0 closes unless told to keep it.
    bool keepAlive() const;
    bool wantsWebSocket() const;
};

// Reads requests from a byte stream with no socket in sight. The caller offers the bytes it has
// and drops from its front what take() says was used: a head is taken only once it is whole, so
// the bytes of a head that asks for a WebSocket are still unread when the socket changes hands.
// A body longer than the limit is refused before a byte of it is held.
class HttpRequestReader {
public:
    enum class State { Head, Body, Done, Failed };
    enum class Fault { None, Malformed, HeadTooLarge, BodyTooLarge, LengthRequired };
    static constexpr qsizetype MaxHead = 16 * 1024;

    explicit HttpRequestReader(qint64 maxBody) : maxBody_(maxBody) {}

    // Takes from the front of `bytes` what belongs to the request being read (never more than
    // one request); returns how many bytes it took.
    qsizetype take(QByteArrayView bytes);
    State state() const { return state_; }
    Fault fault() const { return fault_; }
    const HttpRequest& request() const { return request_; }
    // Forgets the request read (Done) and reads the next one.
    void next();

private:
    qsizetype takeHead(QByteArrayView bytes);
    bool parseHead(QByteArrayView head);
    qsizetype fail(Fault fault);

    qint64 maxBody_;
    qint64 bodyLeft_ = 0;
    State state_ = State::Head;
    Fault fault_ = Fault::None;
    HttpRequest request_;
};
