#include "engine/http/one_shot_request.h"

#include "core/diagnostics/log_categories.h"
#include "core/download_list/records.h"
#include "engine/http/http_status.h"
#include "net/http_tunnel.h"
#include "net/socket_class.h"
#include "net/winsock_errors.h"

namespace {

QString AddressOf(const OneShotRequest::Request& request) {
    if (!request.url.isEmpty()) {
        return request.url;
    }
    const char* scheme = request.protocol == Protocol::Https ? "https://"
                         : request.protocol == Protocol::Ftp ? "ftp://"
                                                             : "http://";
    return QLatin1String(scheme) + HostAndPort(request.host, request.port) + u'/';
}

}  // namespace

OneShotRequest::OneShotRequest(VelmoraSockets& sockets, const Settings& settings, QObject* parent,
                               ProxyResolver* resolver)
    : QObject(parent), sockets_(sockets), settings_(settings), resolver_(resolver) {
    wait_.setSingleShot(true);
    connect(&wait_, &QTimer::timeout, this, &OneShotRequest::onWaitOver);
}

// Never inside one of the socket's handlers: nothing outside this object runs there.
OneShotRequest::~OneShotRequest() = default;

void OneShotRequest::Start(Request request) {
    Abort();
    socket_.reset();  // not inside its handler: Start is never called from one
    request_ = std::move(request);
    reader_ = WholeAnswerReader(request_.bound, request_.headCheck, request_.sink);
    running_ = true;
    socket_ = std::make_unique<SocketClass>(sockets_);
    connect(socket_.get(), &SocketClass::ConnectEvent, this, &OneShotRequest::onConnect);
    connect(socket_.get(), &SocketClass::DataReceivedEvent, this, &OneShotRequest::onData);
    connect(socket_.get(), &SocketClass::ErrorEvent, this,
            [this](SocketClass*, std::int32_t errornumber) { onError(errornumber); });
    connect(socket_.get(), &SocketClass::ClosedEvent, this, &OneShotRequest::onClosed);
    wait_.start(request_.wait);
    const std::uint64_t generation = generation_;
    DecideRoute(resolver_, settings_, request_.protocol, AddressOf(request_), this,
                [this, generation](const ProxyRoute& route) {
                    if (running_ && generation == generation_) {
                        connectAlong(route);
                    }
                });
}

void OneShotRequest::connectAlong(const ProxyRoute& route) {
    // Read once: the request names what the connection was made for.
    proxyHttp_ = ThroughPlainHttpProxy(request_.protocol, route);
    if (route != route_) {
        proxyAuthorization_.clear();  // that login was another proxy's
    }
    route_ = route;
    qCInfo(lcEngine).noquote() << request_.what + QStringLiteral(": GET") << request_.shown
                               << (route.direct() ? QString() : "through " + route.describe());
    // The error of a connection that cannot even start may come from inside this call.
    ConnectAlong(*socket_, request_.protocol, request_.host, request_.port, route);
}

void OneShotRequest::Abort() {
    ++generation_;
    running_ = false;
    dropConnection();
}

void OneShotRequest::Refuse(Request request, const QString& why) {
    Abort();
    request_ = std::move(request);
    fail(OneShotFailure::Kind::Refused, why);
}

void OneShotRequest::onConnect() {
    if (!running_) {
        return;
    }
    if (request_.waitIsIdle) {
        wait_.start(request_.wait);
    }
    emit sending();
    QByteArray bytes = request_.lines(proxyHttp_);
    proxyLoginSent_ = proxyHttp_ && !proxyAuthorization_.isEmpty();
    if (proxyLoginSent_) {
        // Before the empty line that ends the head.
        bytes.insert(bytes.size() - 2, "Proxy-Authorization: " + proxyAuthorization_ + "\r\n");
    }
    socket_->SendData(bytes);
}

void OneShotRequest::onData() {
    if (!running_) {
        socket_->GetData();
        return;
    }
    if (request_.waitIsIdle) {
        wait_.start(request_.wait);
    }
    reader_.feed(socket_->GetData());
    if (reader_.status() == HttpStatus::ProxyAuthenticationRequired && askAgainWithProxyLogin()) {
        return;
    }
    settle();
}

bool OneShotRequest::askAgainWithProxyLogin() {
    if (!proxyHttp_ || route_.user.isEmpty() || proxyLoginSent_) {
        return false;
    }
    qCInfo(lcEngine).noquote() << request_.what + QStringLiteral(": the proxy asks for its login");
    proxyAuthorization_ = ProxyAuthorization(route_);
    socket_->CloseSocket();
    reader_ = WholeAnswerReader(request_.bound, request_.headCheck, request_.sink);
    const std::uint64_t generation = generation_;
    // From the event loop: this runs inside the socket's handler.
    QTimer::singleShot(0, this, [this, generation] {
        if (running_ && generation == generation_) {
            ConnectAlong(*socket_, request_.protocol, request_.host, request_.port, route_);
        }
    });
    return true;
}

void OneShotRequest::onClosed() {
    if (!running_) {
        return;
    }
    reader_.closed(request_.protocol != Protocol::Https || socket_->TlsClosedCleanly());
    settle();
}

void OneShotRequest::onError(std::int32_t errornumber) {
    if (!running_) {
        return;
    }
    const QString problem = socket_->TlsProblem();
    fail(OneShotFailure::Kind::Connection,
         problem.isEmpty() ? SocketErrorText(errornumber) : problem);
}

void OneShotRequest::onWaitOver() {
    if (!running_) {
        return;
    }
    const double seconds = std::chrono::duration<double>(request_.wait).count();
    fail(OneShotFailure::Kind::NoAnswer,
         request_.waitIsIdle ? QStringLiteral("nothing came for %1 s").arg(seconds)
                             : QStringLiteral("no whole answer came within %1 s").arg(seconds));
}

void OneShotRequest::settle() {
    using Fault = WholeAnswerReader::Fault;
    using Kind = OneShotFailure::Kind;
    switch (reader_.state()) {
        case WholeAnswerReader::State::NeedMore:
            return;
        case WholeAnswerReader::State::Stopped:
            // The sink's owner goes on from here; nothing is reported.
            Abort();
            return;
        case WholeAnswerReader::State::Failed: {
            const Fault fault = reader_.fault();
            fail(fault == Fault::Cut       ? Kind::Connection
                 : fault == Fault::Refused ? Kind::Refused
                                           : Kind::BadAnswer,
                 reader_.problem());
            return;
        }
        case WholeAnswerReader::State::Done: {
            const int status = reader_.status();
            qCInfo(lcEngine).noquote().nospace() << request_.what << ": status " << status
                                                 << " with " << reader_.bodyBytes() << " bytes";
            conclude([this, status, head = reader_.head(), body = reader_.body()] {
                emit answered(status, body, head);
            });
            return;
        }
    }
}

void OneShotRequest::fail(OneShotFailure::Kind kind, const QString& why) {
    qCInfo(lcEngine).noquote() << request_.what + QStringLiteral(": failed:") << why;
    conclude([this, failure = OneShotFailure{kind, why}] { emit failed(failure); });
}

void OneShotRequest::conclude(std::function<void()> report) {
    running_ = false;
    dropConnection();
    const std::uint64_t generation = ++generation_;
    // From the event loop: this may run inside a socket handler, or inside Start.
    QTimer::singleShot(0, this, [this, generation, report = std::move(report)] {
        if (generation == generation_) {
            report();
        }
    });
}

void OneShotRequest::dropConnection() {
    wait_.stop();
    if (socket_) {
        // Its own handler may be running: the object stays until the next request.
        socket_->disconnect(this);
        socket_->CloseSocket();
    }
}
