#pragma once

#include <QString>
#include <QtGlobal>
#include <chrono>

// How the remote control listens, with aria2's defaults where it has one, and loopback only
// unless told otherwise.
struct RpcTransportOptions {
    quint16 port = 6800;          // 0: any free port (tests)
    bool listenAll = false;       // else 127.0.0.1 and ::1 only
    bool allowOriginAll = false;  // answer browsers' cross-origin checks with "*"
    QString certificateFile;      // both set: HTTPS and wss:// only
    QString privateKeyFile;
    qint64 maxRequestSize = 2 * 1024 * 1024;  // a body or WebSocket message beyond is refused
    std::chrono::milliseconds firstUnauthorizedPause{1000};
    std::chrono::milliseconds maxUnauthorizedPause{16000};
};
