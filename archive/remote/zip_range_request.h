#pragma once

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <functional>

#include "archive/remote/remote_archive.h"
#include "engine/http/one_shot_request.h"

class VelmoraSockets;
struct Settings;

// One range of a remote archive, fetched with one GET on a connection of its own. It asks for
// the bytes [first, first + length], both inclusive, as the preview always has (the last one
// past the end: servers clamp it), and keeps exactly `length` bytes. Only a 206 for exactly
// that range of a file of the archive's size is taken.
//
// Nothing outside this object runs inside a socket handler but the sink: `finished` and
// `failed` come from the event loop, so a receiver may start the next request, or delete the
// owner, from them.
class ZipRangeRequest : public QObject {
    Q_OBJECT
public:
    // How long the connection may stay without a byte (or without connecting).
    static constexpr std::chrono::milliseconds kNoAnswerWait{30000};
    // Takes the body's bytes as they arrive, in order; false stops the request without a
    // signal (the sink's owner says why). It runs inside a socket handler: it must not start,
    // abort or delete the request.
    using Sink = std::function<bool(const char* bytes, qsizetype length)>;

    // `resolver`: where the proxy route comes from; none: the settings' proxies.
    ZipRangeRequest(VelmoraSockets& sockets, const Settings& settings, QObject* parent = nullptr,
                    ProxyResolver* resolver = nullptr);

    // Tests wait less; takes effect at the next Start.
    void setNoAnswerWait(std::chrono::milliseconds wait) { noAnswerWait_ = wait; }

    // Fetches the range into body(). A request already running is dropped first.
    void Start(const RemoteArchive& archive, qint64 first, qint64 length);
    // Hands the range to `sink` instead, a piece at a time, never holding it whole.
    void Start(const RemoteArchive& archive, qint64 first, qint64 length, Sink sink);
    // Closes the connection; no signal follows.
    void Abort() { request_.Abort(); }

    // The range, once `finished` came for an in-memory request.
    const QByteArray& body() const { return body_; }

signals:
    void finished();
    void failed(const RemoteArchiveFailure& failure);

private:
    // The head is complete: empty when it answers the range, else why not (its reason kept).
    QString checkHead(const QByteArray& head);
    void onAnswered(const QByteArray& body);
    void onFailed(const OneShotFailure& failure);
    // Ends the request before it connects.
    void refuse(OneShotRequest::Request request, RemoteArchiveFailure::Reason reason,
                const QString& detail);

    OneShotRequest request_;
    std::chrono::milliseconds noAnswerWait_ = kNoAnswerWait;
    RemoteArchive archive_;
    qint64 first_ = 0;
    qint64 length_ = 0;
    qint64 received_ = 0;  // body bytes the sink took
    bool toSink_ = false;
    RemoteArchiveFailure::Reason refusal_ = RemoteArchiveFailure::Reason::ServerError;
    QByteArray body_;
};
