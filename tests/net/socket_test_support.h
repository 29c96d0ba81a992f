#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QFile>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>

#include "core/types/unique_fd.h"
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

// A listener of the test's own on 127.0.0.1 playing a server or proxy byte by byte: it sees
// what the client sends and answers in whatever pieces the test chooses.
struct HandMadePeer {
    UniqueFd listener{::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
    UniqueFd peer;
    int port = 0;

    bool listen() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener.get(), 1) != 0 ||
            ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return false;
        }
        port = ntohs(address.sin_port);
        return true;
    }
    // Accepts the connection and reads from it until `enough` holds (or the wait's deadline).
    QByteArray receive(const std::function<bool(const QByteArray&)>& enough) {
        QByteArray bytes;
        WaitFor([&] {
            if (!peer.valid()) {
                peer.reset(::accept(listener.get(), nullptr, nullptr));
                return false;
            }
            char buffer[256];
            const ssize_t n = ::recv(peer.get(), buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n > 0) {
                bytes.append(buffer, n);
            }
            return enough(bytes);
        });
        return bytes;
    }
    bool send(const QByteArray& bytes) {
        return ::send(peer.get(), bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) ==
               bytes.size();
    }
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
// none to `blockedPort`, and logs each on its stderr ("tcp/connect").
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
                                    "command: connect\n log: connect }\n")
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
