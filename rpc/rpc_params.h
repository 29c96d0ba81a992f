#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// An error answer in aria2's form. Thrown by a method and turned into the response's "error"
// by the dispatcher, so that a method reads its parameters without checking at every step.
struct RpcFailure {
    int code = 1;
    QString message;
};

// JSON-RPC's own error codes, for requests that never reach a method.
constexpr int RpcParseErrorCode = -32700;
constexpr int RpcInvalidRequestCode = -32600;
constexpr int RpcInvalidParamsCode = -32602;

// A method's parameters after the secret was taken off, checked as aria2 checks them: each
// one is counted from 0 after the secret, and a missing or mistyped one answers with its place.
class RpcParams {
public:
    explicit RpcParams(QJsonArray params) : params_(std::move(params)) {}

    bool has(int i) const { return i < params_.size(); }
    // The GID text at `i` (required).
    QString text(int i) const;
    // An integer at `i`; `fallback` when absent, or required when none is given.
    int integer(int i, std::optional<int> fallback = std::nullopt) const;
    QJsonArray array(int i) const;
    // An object at `i`, empty when absent.
    QJsonObject object(int i) const;
    // The texts of the array at `i` (a `keys` filter), empty when absent.
    QStringList texts(int i) const;

private:
    [[noreturn]] static void missing(int i);
    [[noreturn]] static void wrongType(int i);
    QJsonValue required(int i) const;

    QJsonArray params_;
};

// Whether `given` is the secret, compared in a time that does not depend on where the two
// first differ. An empty secret matches nothing.
bool SecretMatches(const QString& given, const QString& secret);

// Takes the "token:SECRET" that leads a request's parameters off them. Returns whether it
// was there and matched.
bool TakeToken(QJsonArray& params, const QString& secret);
