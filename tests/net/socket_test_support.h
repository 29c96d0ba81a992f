#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QVector>

#include "net/socket_class.h"
#include "net/socket_module.h"
#include "tests/support/peer_process.h"
#include "tests/support/sandbox.h"

// Everything an event target heard, in order, with the object each event named.
struct EventLog {
    struct Event {
        QString kind;  // "connect", "data", "closed", "error"
        SocketClass* socket;
        std::int32_t value;
    };
    QVector<Event> events;
    QByteArray received;  // GetData of the reporting connection after each data event
    bool drain = true;

    void listen(SocketClass& target) {
        QObject::connect(&target, &SocketClass::ConnectEvent, [this](SocketClass* s) {
            events.push_back({QStringLiteral("connect"), s, 0});
        });
        QObject::connect(&target, &SocketClass::DataReceivedEvent,
                         [this, &target](SocketClass* s, std::int32_t n) {
                             events.push_back({QStringLiteral("data"), s, n});
                             if (drain) {
                                 received += (s != nullptr ? s : &target)->GetData();
                             }
                         });
        QObject::connect(&target, &SocketClass::ClosedEvent, [this](SocketClass* s) {
            events.push_back({QStringLiteral("closed"), s, 0});
        });
        QObject::connect(&target, &SocketClass::ErrorEvent, [this](SocketClass* s, std::int32_t e) {
            events.push_back({QStringLiteral("error"), s, e});
        });
    }
    int count(const QString& kind) const {
        int n = 0;
        for (const Event& e : events) {
            n += e.kind == kind ? 1 : 0;
        }
        return n;
    }
    bool has(const QString& kind) const { return count(kind) > 0; }
};

// The scripted loopback server of tests/net/loopback_server.py.
struct LoopbackServer {
    PeerProcess peer;
    int port = 0;
    explicit LoopbackServer(const QString& greeting = QString()) {
        QStringList args{SourcePath(QStringLiteral("tests/net/loopback_server.py"))};
        if (!greeting.isEmpty()) {
            args << greeting;
        }
        if (peer.start(QStringLiteral("/usr/bin/python3"), args)) {
            port = peer.firstLine().toInt();
        }
    }
};

// Byte i of what the server's SEND produces.
inline bool IsPattern(const QByteArray& bytes, qsizetype offset = 0) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) != (offset + i) % 251) {
            return false;
        }
    }
    return true;
}

// dante as a real SOCKS4 server on loopback: it lets connections to loopback through, but
// none to `blockedPort`.
struct Dante {
    Sandbox box;
    PeerProcess peer;
    int port = FreeLoopbackPort();

    bool start(int blockedPort) {
        QFile config(box.file(QStringLiteral("danted.conf")));
        if (!config.open(QIODevice::WriteOnly)) {
            return false;
        }
        config.write(QStringLiteral("logoutput: stderr\n"
                                    "internal: 127.0.0.1 port = %1\n"
                                    "external: 127.0.0.1\n"
                                    "clientmethod: none\n"
                                    "socksmethod: none\n"
                                    "user.privileged: root\n"
                                    "user.unprivileged: nobody\n"
                                    "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                    "socks block { from: 0.0.0.0/0 to: 127.0.0.1/32 port = %2 }\n"
                                    "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 "
                                    "command: connect }\n")
                         .arg(port)
                         .arg(blockedPort)
                         .toUtf8());
        config.close();
        if (!peer.start(
                QStringLiteral("/usr/sbin/danted"),
                {QStringLiteral("-f"), config.fileName(), QStringLiteral("-N"), QStringLiteral("1"),
                 QStringLiteral("-p"), box.file(QStringLiteral("danted.pid"))})) {
            return false;
        }
        return WaitFor([&] { return LoopbackPortAccepts(port); });
    }
};
