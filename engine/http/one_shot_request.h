#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/http/proxy_route.h"
#include "engine/http/whole_answer.h"

class SocketClass;
class VelmoraSockets;
struct Settings;

// Why a one-shot request got no answer it could use.
struct OneShotFailure {
    enum class Kind {
        Connection,  // no connection, an error on it, or its close before the answer's end
        NoAnswer,    // the wait ran out
        BadAnswer,   // bytes that are no HTTP answer, or more of them than the bounds allow
        Refused,     // the request's head check said no
    };
    Kind kind = Kind::Connection;
    QString why;
};

// One HTTP request on a connection of its own, made as every connection of the program is
// made (TLS, the proxy, its tunnel), and its answer read within bounds: connect, send, read,
// report once, drop. Whoever asks says what goes out and how the answer is read.
//
// Nothing outside this object runs inside a socket handler but the request's head check and
// sink: `answered` and `failed` come from the event loop, so a receiver may start the next
// request, or delete the owner, from them.
class OneShotRequest : public QObject {
    Q_OBJECT
public:
    struct Request {
        std::int16_t protocol = 0;
        QString host;
        std::int32_t port = 0;
        QString url;    // the address, for the proxy resolver; empty: scheme://host:port/
        QString what;   // names the request in the log
        QString shown;  // the address for the log
        // The request's bytes; `throughProxy` when they go to the plain HTTP proxy, which
        // must be sent the full address.
        std::function<QByteArray(bool throughProxy)> lines;
        WholeAnswerReader::Bound bound;
        WholeAnswerReader::HeadCheck headCheck;  // runs inside a socket handler
        WholeAnswerReader::Sink sink;            // too; empty: the body comes with `answered`
        std::chrono::milliseconds wait{30000};
        bool waitIsIdle = false;  // the wait starts over with every byte, not once for all
    };

    // `resolver`: where each request's proxy route comes from; none: the settings' proxies.
    OneShotRequest(VelmoraSockets& sockets, const Settings& settings, QObject* parent = nullptr,
                   ProxyResolver* resolver = nullptr);
    ~OneShotRequest() override;

    // For an owner that outlives a change of the proxy settings; the next Start uses it.
    void setProxyResolver(ProxyResolver* resolver) { resolver_ = resolver; }
    // A request still running is dropped first. Never called from a socket handler.
    void Start(Request request);
    // Closes the connection; no signal follows.
    void Abort();
    // Ends `request` before it connects, for a fault its owner found in it: `why` comes as a
    // refusal from the event loop, as any other end would.
    void Refuse(Request request, const QString& why);

signals:
    // Connected: the request is on its way.
    void sending();
    // The answer was read to its end (or its bound), whatever its status.
    void answered(int status, const QByteArray& body, const QByteArray& head);
    void failed(const OneShotFailure& failure);

private:
    void connectAlong(const ProxyRoute& route);
    // The plain HTTP proxy's 407 to a request without its login: asked again with it, once.
    bool askAgainWithProxyLogin();
    void onConnect();
    void onData();
    void onClosed();
    void onError(std::int32_t errornumber);
    void onWaitOver();
    void settle();
    void fail(OneShotFailure::Kind kind, const QString& why);
    // Closes the connection and reports from the event loop.
    void conclude(std::function<void()> report);
    // Closes the connection; the socket object itself goes at the next Start or with this one,
    // as its handler may be what runs now.
    void dropConnection();

    VelmoraSockets& sockets_;
    const Settings& settings_;
    ProxyResolver* resolver_;
    std::unique_ptr<SocketClass> socket_;
    QTimer wait_;
    Request request_;
    bool proxyHttp_ = false;
    ProxyRoute route_;
    QByteArray proxyAuthorization_;  // once the plain proxy asked for its login
    bool proxyLoginSent_ = false;
    bool running_ = false;
    std::uint64_t generation_ = 0;  // a report scheduled for an older request is dropped
    WholeAnswerReader reader_;
};
