#include "rpc/rpc_websocket_client.h"

#include <QPointer>
#include <QWebSocket>

#include "rpc/json_rpc_exchange.h"
#include "rpc/rpc_transport_options.h"
#include "rpc/unauthorized_pause.h"

namespace {

// Messages a client may have waiting for their turn (in count, and in requests of the size
// limit); past this it is flooding.
constexpr qsizetype MaxWaiting = 64;
constexpr qint64 MaxWaitingRequests = 4;

}  // namespace

RpcWebSocketClient::RpcWebSocketClient(QWebSocket* socket, const RpcTransportOptions& options,
                                       RpcDispatch& dispatch, UnauthorizedPause& pause,
                                       QObject* parent)
    : QObject(parent),
      socket_(socket),
      dispatch_(dispatch),
      pause_(pause),
      waitingLimit_(MaxWaitingRequests * options.maxRequestSize) {
    socket_->setParent(this);
    socket_->setMaxAllowedIncomingMessageSize(static_cast<quint64>(options.maxRequestSize));
    socket_->setMaxAllowedIncomingFrameSize(static_cast<quint64>(options.maxRequestSize));
    held_.setSingleShot(true);
    connect(&held_, &QTimer::timeout, this, &RpcWebSocketClient::sendHeld);
    connect(socket_, &QWebSocket::textMessageReceived, this, &RpcWebSocketClient::received);
    connect(socket_, &QWebSocket::disconnected, this, &RpcWebSocketClient::end);
}

RpcWebSocketClient::~RpcWebSocketClient() = default;

void RpcWebSocketClient::send(const QByteArray& message) {
    if (!ended_) {
        socket_->sendTextMessage(QString::fromUtf8(message));
    }
}

void RpcWebSocketClient::abort() {
    socket_->disconnect(this);
    socket_->abort();
}

void RpcWebSocketClient::received(const QString& message) {
    const QByteArray text = message.toUtf8();
    if (waiting_.size() >= MaxWaiting || waitingBytes_ + text.size() > waitingLimit_) {
        socket_->close(QWebSocketProtocol::CloseCodePolicyViolated,
                       QStringLiteral("too many requests"));
        end();
        return;
    }
    waitingBytes_ += text.size();
    waiting_.enqueue(text);
    work();
}

void RpcWebSocketClient::work() {
    while (!busy_ && !ended_ && !held_.isActive() && !waiting_.isEmpty()) {
        busy_ = true;
        const QPointer<RpcWebSocketClient> alive(this);
        const QByteArray request = waiting_.dequeue();
        waitingBytes_ -= request.size();
        ExchangeJson(request, dispatch_, [this, alive](const RpcExchange& exchange) {
            if (alive) {
                answered(exchange);
            }
        });
    }
}

void RpcWebSocketClient::answered(const RpcExchange& exchange) {
    busy_ = false;
    if (ended_) {
        end();
        return;
    }
    heldAnswer_ = exchange.body;
    if (exchange.unauthorized) {
        held_.start(pause_.refused(socket_->peerAddress()));
        return;
    }
    sendHeld();
}

void RpcWebSocketClient::sendHeld() {
    if (!heldAnswer_.isEmpty()) {
        send(heldAnswer_);
        heldAnswer_.clear();
    }
    QTimer::singleShot(0, this, &RpcWebSocketClient::work);
}

void RpcWebSocketClient::end() {
    ended_ = true;
    if (done_) {
        return;
    }
    done_ = true;
    held_.stop();
    socket_->disconnect(this);
    socket_->abort();
    emit finished();
    deleteLater();
}
