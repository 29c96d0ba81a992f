#include "rpc/json_rpc_exchange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <QUrlQuery>

#include "rpc/rpc_dispatch.h"

namespace {

QJsonObject ErrorAnswer(int code, const QString& message) {
    return {{"jsonrpc", "2.0"},
            {"id", QJsonValue::Null},
            {"error", QJsonObject{{"code", code}, {"message", message}}}};
}

bool IsUnauthorized(const QJsonObject& answer) {
    const QJsonObject error = answer.value("error").toObject();
    return error.value("code").toInt() == RpcUnauthorizedCode &&
           error.value("message").toString() == RpcUnauthorizedMessage;
}

int StatusOf(const QJsonObject& answer) {
    if (!answer.contains("error")) {
        return 200;
    }
    const int code = answer.value("error").toObject().value("code").toInt();
    return code == -32600 || code > 0 ? 400 : 500;
}

QByteArray Compact(const QJsonDocument& document) {
    return document.toJson(QJsonDocument::Compact);
}

RpcExchange Single(const QJsonObject& request, RpcDispatch& dispatch) {
    const QJsonObject answer = dispatch.handle(request);
    RpcExchange exchange;
    if (answer.isEmpty()) {
        exchange.status = 204;
        return exchange;
    }
    exchange.body = Compact(QJsonDocument(answer));
    exchange.status = StatusOf(answer);
    exchange.unauthorized = IsUnauthorized(answer);
    return exchange;
}

// Members that are not objects are passed over without an answer, as aria2 does.
RpcExchange Batch(const QJsonArray& requests, RpcDispatch& dispatch) {
    RpcExchange exchange;
    QJsonArray answers;
    for (const QJsonValue& request : requests) {
        if (!request.isObject()) {
            continue;
        }
        const QJsonObject answer = dispatch.handle(request.toObject());
        if (!answer.isEmpty()) {
            exchange.unauthorized = exchange.unauthorized || IsUnauthorized(answer);
            answers.append(answer);
        }
    }
    exchange.body = Compact(QJsonDocument(answers));
    return exchange;
}

bool IsCallbackName(const QString& name) {
    if (name.isEmpty() || name.size() > 128) {
        return false;
    }
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != '_' && c != '.' && c != '$') {
            return false;
        }
    }
    return true;
}

}  // namespace

RpcExchange ExchangeJson(QByteArrayView text, RpcDispatch& dispatch) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || (!document.isObject() && !document.isArray())) {
        RpcExchange exchange;
        exchange.body = Compact(QJsonDocument(ErrorAnswer(-32700, "Parse error.")));
        exchange.status = 500;
        return exchange;
    }
    return document.isObject() ? Single(document.object(), dispatch)
                               : Batch(document.array(), dispatch);
}

RpcExchange ExchangeQuery(QByteArrayView query, RpcDispatch& dispatch) {
    const QUrlQuery items(QString::fromUtf8(query));
    const QString callback = items.queryItemValue("jsoncallback", QUrl::FullyDecoded);
    const QString method = items.queryItemValue("method", QUrl::FullyDecoded);
    QJsonObject request{{"jsonrpc", "2.0"}, {"method", method}};
    if (items.hasQueryItem("id")) {
        request.insert("id", items.queryItemValue("id", QUrl::FullyDecoded));
    }
    bool valid = !method.isEmpty() && (callback.isEmpty() || IsCallbackName(callback));
    if (valid && items.hasQueryItem("params")) {
        const QByteArray encoded = items.queryItemValue("params", QUrl::FullyDecoded).toLatin1();
        auto decoded =
            QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            decoded = QByteArray::fromBase64Encoding(
                encoded, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
        }
        const QJsonDocument params = QJsonDocument::fromJson(*decoded);
        valid = decoded && params.isArray();
        request.insert("params", params.array());
    }
    RpcExchange exchange;
    if (valid) {
        exchange = Single(request, dispatch);
    } else {
        exchange.body = Compact(QJsonDocument(ErrorAnswer(-32600, "Invalid Request.")));
        exchange.status = 400;
    }
    if (IsCallbackName(callback)) {
        exchange.body = callback.toLatin1() + '(' + exchange.body + ')';
        exchange.contentType = "text/javascript";
    }
    return exchange;
}
