#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

class RpcDispatch;

// What the transport sends back for one HTTP request or WebSocket message.
struct RpcExchange {
    QByteArray body;  // empty when every request was a notification
    int status = 200;
    QByteArray contentType = "application/json-rpc";
    bool unauthorized = false;  // some answer refused the secret: it is to be slowed
};

// A POST body or a WebSocket message: one request object, or a batch array answered as an
// array. The statuses are aria2's: a single error answer is 400 when the request was at fault
// (invalid request, a method's own error), 500 for a parse error or invalid parameters; a
// batch is always 200.
// `done` is called once, when every answer is in (at once unless a method asks a server first).
using ExchangeDone = std::function<void(const RpcExchange& exchange)>;
void ExchangeJson(QByteArrayView text, RpcDispatch& dispatch, ExchangeDone done);

// The GET form: "method=M&id=I&params=BASE64" (a base64 JSON array), answered as JavaScript
// with "jsoncallback=NAME".
void ExchangeQuery(QByteArrayView query, RpcDispatch& dispatch, ExchangeDone done);
