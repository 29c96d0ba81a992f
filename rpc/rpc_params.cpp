#include "rpc/rpc_params.h"

#include <QByteArray>
#include <climits>
#include <cmath>

namespace {

constexpr QStringView TokenPrefix = u"token:";

}  // namespace

void RpcParams::missing(int i) {
    throw RpcFailure{1, QStringLiteral("The parameter at %1 is required but missing.").arg(i)};
}

void RpcParams::wrongType(int i) {
    throw RpcFailure{1, QStringLiteral("The parameter at %1 has wrong type.").arg(i)};
}

QJsonValue RpcParams::required(int i) const {
    if (!has(i)) {
        missing(i);
    }
    return params_.at(i);
}

QString RpcParams::text(int i) const {
    const QJsonValue value = required(i);
    if (!value.isString()) {
        wrongType(i);
    }
    return value.toString();
}

int RpcParams::integer(int i, std::optional<int> fallback) const {
    if (!has(i) && fallback) {
        return *fallback;
    }
    const QJsonValue value = required(i);
    const double number = value.toDouble();
    // JSON has only doubles; a fraction or a number beyond int is not an integer parameter.
    if (!value.isDouble() || number < INT_MIN || number > INT_MAX || number != std::trunc(number)) {
        wrongType(i);
    }
    return int(number);
}

QJsonArray RpcParams::array(int i) const {
    const QJsonValue value = required(i);
    if (!value.isArray()) {
        wrongType(i);
    }
    return value.toArray();
}

QJsonObject RpcParams::object(int i) const {
    if (!has(i)) {
        return {};
    }
    if (!params_.at(i).isObject()) {
        wrongType(i);
    }
    return params_.at(i).toObject();
}

QStringList RpcParams::texts(int i) const {
    if (!has(i)) {
        return {};
    }
    if (!params_.at(i).isArray()) {
        wrongType(i);
    }
    QStringList result;
    for (const QJsonValue& value : params_.at(i).toArray()) {
        if (!value.isString()) {
            wrongType(i);
        }
        result << value.toString();
    }
    return result;
}

bool SecretMatches(const QString& given, const QString& secret) {
    const QByteArray a = given.toUtf8();
    const QByteArray b = secret.toUtf8();
    // Every byte of the longer text is looked at whatever the others hold.
    unsigned difference = a.size() == b.size() ? 0U : 1U;
    const qsizetype length = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < length; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        difference |= unsigned(x ^ y);
    }
    return difference == 0 && !secret.isEmpty();
}

bool TakeToken(QJsonArray& params, const QString& secret) {
    if (params.isEmpty() || !params.first().isString()) {
        return false;
    }
    const QString first = params.first().toString();
    if (!first.startsWith(TokenPrefix)) {
        return false;
    }
    params.removeFirst();
    return SecretMatches(first.mid(TokenPrefix.size()), secret);
}
