#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// One HTTP/1.1 answer of the remote control, with the headers aria2's clients are used to
// (a date, no caching, the JSON-RPC content type).
struct HttpAnswer {
    int status = 200;
    QByteArray contentType;  // none when empty
    QByteArray body;
    bool close = false;  // "Connection: close", and the connection ends after it
    QList<QPair<QByteArray, QByteArray>> headers;

    void add(const QByteArray& name, const QByteArray& value) { headers.append({name, value}); }
    QByteArray bytes() const;
};
