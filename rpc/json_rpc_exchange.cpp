#include "rpc/json_rpc_exchange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <QUrlQuery>
#include <memory>
#include <vector>

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

RpcExchange SingleExchange(const QJsonObject& answer) {
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

// A batch's answers in the order of its requests, whenever each comes.
struct BatchAnswers {
    std::vector<QJsonObject> answers;
    std::size_t missing = 0;
    ExchangeDone done;

    void take(std::size_t i, const QJsonObject& answer) {
        answers[i] = answer;
        if (--missing > 0) {
            return;
        }
        RpcExchange exchange;
        QJsonArray array;
        for (const QJsonObject& each : answers) {
            if (!each.isEmpty()) {
                exchange.unauthorized = exchange.unauthorized || IsUnauthorized(each);
                array.append(each);
            }
        }
        exchange.body = Compact(QJsonDocument(array));
        done(exchange);
    }
};

// Members that are not objects are passed over without an answer, as aria2 does.
void Batch(const QJsonArray& requests, RpcDispatch& dispatch, ExchangeDone done) {
    auto batch = std::make_shared<BatchAnswers>();
    batch->done = std::move(done);
    std::vector<QJsonObject> objects;
    for (const QJsonValue& request : requests) {
        if (request.isObject()) {
            objects.push_back(request.toObject());
        }
    }
    batch->answers.resize(objects.size());
    // One more than the requests, taken off last: an empty batch, or one whose answers all
    // come at once, ends here and nowhere earlier.
    batch->missing = objects.size() + 1;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        dispatch.handle(objects[i],
                        [batch, i](const QJsonObject& answer) { batch->take(i, answer); });
    }
    batch->answers.emplace_back();
    batch->take(objects.size(), {});
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

void ExchangeJson(QByteArrayView text, RpcDispatch& dispatch, ExchangeDone done) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || (!document.isObject() && !document.isArray())) {
        RpcExchange exchange;
        exchange.body = Compact(QJsonDocument(ErrorAnswer(-32700, "Parse error.")));
        exchange.status = 500;
        done(exchange);
    } else if (document.isObject()) {
        dispatch.handle(document.object(), [done = std::move(done)](const QJsonObject& answer) {
            done(SingleExchange(answer));
        });
    } else {
        Batch(document.array(), dispatch, std::move(done));
    }
}

void ExchangeQuery(QByteArrayView query, RpcDispatch& dispatch, ExchangeDone done) {
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
    const auto wrapped = [callback, done = std::move(done)](RpcExchange exchange) {
        if (IsCallbackName(callback)) {
            exchange.body = callback.toLatin1() + '(' + exchange.body + ')';
            exchange.contentType = "text/javascript";
        }
        done(exchange);
    };
    if (valid) {
        dispatch.handle(request,
                        [wrapped](const QJsonObject& answer) { wrapped(SingleExchange(answer)); });
    } else {
        RpcExchange exchange;
        exchange.body = Compact(QJsonDocument(ErrorAnswer(-32600, "Invalid Request.")));
        exchange.status = 400;
        wrapped(exchange);
    }
}
