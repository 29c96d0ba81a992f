#include "rpc/rpc_http_connection.h"

#include <sys/socket.h>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>

#include "rpc/http_answer.h"
#include "rpc/json_rpc_exchange.h"
#include "rpc/rpc_transport_options.h"
#include "rpc/unauthorized_pause.h"

namespace {

// Qt reads no further ahead than this, so that a client sending faster than it is answered
// fills its own socket, not our memory.
constexpr qint64 ReadAhead = 64 * 1024;
constexpr int IdleMs = 60 * 1000;
// After an answer that closes, what the client still sends is read and dropped for this long,
// so that the answer is not lost to a reset.
constexpr int LingerMs = 2000;

}  // namespace

RpcHttpConnection::RpcHttpConnection(QTcpSocket* socket, const RpcTransportOptions& options,
                                     RpcDispatch& dispatch, UnauthorizedPause& pause,
                                     QObject* parent)
    : QObject(parent),
      socket_(socket),
      options_(options),
      dispatch_(dispatch),
      pause_(pause),
      reader_(options.maxRequestSize) {
    socket_->setParent(this);
    socket_->setReadBufferSize(ReadAhead);
    held_.setSingleShot(true);
    idle_.setSingleShot(true);
    connect(&held_, &QTimer::timeout, this, &RpcHttpConnection::writeHeld);
    connect(&idle_, &QTimer::timeout, this, &RpcHttpConnection::end);
    connect(socket_, &QTcpSocket::readyRead, this, &RpcHttpConnection::pump);
    connect(socket_, &QTcpSocket::disconnected, this, &RpcHttpConnection::end);
    connect(socket_, &QTcpSocket::errorOccurred, this, &RpcHttpConnection::end);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (closing_ && socket_->bytesToWrite() == 0) {
            shutDown();
        }
    });
    idle_.start(IdleMs);
    QTimer::singleShot(0, this, &RpcHttpConnection::pump);
}

RpcHttpConnection::~RpcHttpConnection() = default;

void RpcHttpConnection::pump() {
    if (closing_) {
        socket_->skip(socket_->bytesAvailable());
        return;
    }
    while (!busy_ && !ended_ && !held_.isActive() && socket_->bytesAvailable() > 0) {
        idle_.start(IdleMs);
        const QByteArray bytes = socket_->peek(ReadAhead);
        const qsizetype used = reader_.take(bytes);
        if (reader_.state() == HttpRequestReader::State::Done &&
            reader_.request().wantsWebSocket() && handOver()) {
            return;
        }
        socket_->skip(used);
        if (reader_.state() == HttpRequestReader::State::Failed) {
            refuse(reader_.fault());
            return;
        }
        if (reader_.state() != HttpRequestReader::State::Done) {
            if (used == 0) {
                return;  // a head not yet whole
            }
            continue;
        }
        const HttpRequest request = reader_.request();
        reader_.next();
        answer(request);
    }
}

bool RpcHttpConnection::handOver() {
    if (reader_.request().path() != "/jsonrpc") {
        return false;
    }
    ended_ = true;
    done_ = true;
    socket_->disconnect(this);
    QTcpSocket* socket = socket_;
    socket->setReadBufferSize(0);
    socket->setParent(nullptr);
    socket_ = nullptr;
    emit webSocketRequested(socket);
    emit finished();
    deleteLater();
    return true;
}

void RpcHttpConnection::answer(const HttpRequest& request) {
    // A method may answer later: the client may leave meanwhile and this connection be
    // deleted, or a second request arrive, which waits for this one's answer.
    busy_ = true;
    HttpAnswer answer = answerOutside(request);
    if (answer.status != 0) {
        answered(answer);
        return;
    }
    const QPointer<RpcHttpConnection> alive(this);
    auto done = [this, alive, answer](const RpcExchange& exchange) mutable {
        if (!alive) {
            return;  // the client left while the method worked
        }
        answer.status = exchange.status;
        answer.body = exchange.body;
        answer.contentType = exchange.status == 204 ? QByteArray() : exchange.contentType;
        answer.close = answer.close || exchange.status >= 400;
        if (exchange.unauthorized && socket_ != nullptr) {
            held_.setInterval(pause_.refused(socket_->peerAddress()));
        }
        answered(answer);
    };
    if (request.method == "POST") {
        ExchangeJson(request.body, dispatch_, std::move(done));
    } else {
        ExchangeQuery(request.query(), dispatch_, std::move(done));
    }
}

void RpcHttpConnection::answered(const HttpAnswer& answer) {
    busy_ = false;
    if (ended_) {
        end();
        return;
    }
    send(answer);
}

HttpAnswer RpcHttpConnection::answerOutside(const HttpRequest& request) const {
    HttpAnswer answer;
    answer.status = 0;
    answer.close = !request.keepAlive();
    if (options_.allowOriginAll) {
        answer.add("Access-Control-Allow-Origin", "*");
    }
    if (request.path() != "/jsonrpc") {
        answer.status = 404;
        return answer;
    }
    if (request.method == "OPTIONS") {
        answer.status = 200;
        if (options_.allowOriginAll && !request.header("access-control-request-method").isEmpty()) {
            answer.add("Access-Control-Allow-Methods", "POST, GET, OPTIONS");
            answer.add("Access-Control-Max-Age", "1728000");
            const QByteArray asked = request.header("access-control-request-headers");
            if (!asked.isEmpty()) {
                answer.add("Access-Control-Allow-Headers", asked);
            }
        }
        return answer;
    }
    if (request.method != "POST" && request.method != "GET") {
        answer.status = 404;
    }
    return answer;
}

void RpcHttpConnection::send(const HttpAnswer& answer) {
    heldBytes_ = answer.bytes();
    heldCloses_ = answer.close;
    if (held_.interval() > 0) {
        held_.start();  // writeHeld() follows; reading waits until then
        return;
    }
    writeHeld();
}

void RpcHttpConnection::writeHeld() {
    held_.setInterval(0);
    socket_->write(heldBytes_);
    heldBytes_.clear();
    if (heldCloses_) {
        closeAfterWrite();
        return;
    }
    QTimer::singleShot(0, this, &RpcHttpConnection::pump);
}

void RpcHttpConnection::refuse(HttpRequestReader::Fault fault) {
    HttpAnswer answer;
    answer.close = true;
    switch (fault) {
        case HttpRequestReader::Fault::HeadTooLarge:
            answer.status = 400;
            answer.contentType = "application/json-rpc";
            answer.body = R"({"error":{"code":-32600,"message":"Invalid Request."},"id":null,)"
                          R"("jsonrpc":"2.0"})";
            break;
        case HttpRequestReader::Fault::BodyTooLarge:
            answer.status = 413;
            break;
        case HttpRequestReader::Fault::LengthRequired:
            answer.status = 411;
            break;
        default:
            end();
            return;  // not HTTP: nothing to answer
    }
    send(answer);
}

void RpcHttpConnection::closeAfterWrite() {
    closing_ = true;
    idle_.start(LingerMs);
    if (socket_->bytesToWrite() == 0) {
        shutDown();
    }
}

void RpcHttpConnection::shutDown() {
    if (qobject_cast<QSslSocket*>(socket_) != nullptr) {
        socket_->disconnectFromHost();  // TLS has its own closing words to send
        return;
    }
    ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
    socket_->skip(socket_->bytesAvailable());
}

void RpcHttpConnection::end() {
    ended_ = true;
    if (done_) {
        return;
    }
    done_ = true;
    socket_->disconnect(this);
    socket_->abort();
    held_.stop();
    idle_.stop();
    emit finished();
    deleteLater();
}
