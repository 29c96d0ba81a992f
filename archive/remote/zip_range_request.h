#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "archive/remote/remote_archive.h"

class SocketClass;
class VelmoraSockets;
struct Settings;

// One range of a remote archive, fetched with one GET on a connection of its own, made as
// every download connection is made (TLS, the proxy, its tunnel). It asks for the bytes
// [first, first + length], both inclusive, as the preview always has (the last one past the
// end: servers clamp it), and keeps exactly `length` bytes. Only a 206 for exactly that range
// of a file of the archive's size is taken.
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

    ZipRangeRequest(VelmoraSockets& sockets, const Settings& settings, QObject* parent = nullptr);
    ~ZipRangeRequest() override;

    // Tests wait less; takes effect at the next Start.
    void setNoAnswerWait(std::chrono::milliseconds wait) { noAnswerWait_ = wait; }

    // Fetches the range into body(). A request already running is dropped first.
    void Start(const RemoteArchive& archive, qint64 first, qint64 length);
    // Hands the range to `sink` instead, a piece at a time, never holding it whole.
    void Start(const RemoteArchive& archive, qint64 first, qint64 length, Sink sink);
    // Closes the connection; no signal follows.
    void Abort();

    // The range, once `finished` came for an in-memory request.
    const QByteArray& body() const { return body_; }

signals:
    void finished();
    void failed(const RemoteArchiveFailure& failure);

private:
    enum class Stage { Idle, Connecting, Head, Body, Done };

    void begin(const RemoteArchive& archive, qint64 first, qint64 length, Sink sink);
    void onConnect();
    void onData();
    void onError(std::int32_t errornumber);
    void onClosed();
    void onNoAnswer();
    // The head is complete: whether it answers the range; else the request has failed.
    bool acceptHead(const QByteArray& head);
    // Takes body bytes up to the range's length; ends the request when it is complete.
    void takeBody(const char* bytes, qsizetype length);
    void fail(RemoteArchiveFailure::Reason reason, const QString& detail);
    void succeed();
    // Closes the connection and reports from the event loop.
    void conclude(std::function<void()> report);
    // Closes the connection; the socket object itself goes at the next Start or with this one,
    // as its handler may be what runs now.
    void dropConnection();

    VelmoraSockets& sockets_;
    const Settings& settings_;
    std::unique_ptr<SocketClass> socket_;
    QTimer noAnswer_;
    std::chrono::milliseconds noAnswerWait_ = kNoAnswerWait;
    Stage stage_ = Stage::Idle;
    std::uint64_t generation_ = 0;  // a report scheduled for an older request is dropped

    RemoteArchive archive_;
    bool proxyHttp_ = false;  // the plain proxy is sent the full address
    qint64 first_ = 0;
    qint64 length_ = 0;
    qint64 received_ = 0;  // body bytes taken so far
    Sink sink_;            // empty: into body_
    QByteArray head_;
    QByteArray body_;
};
