#pragma once

#include <sys/socket.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

// A SOCKS server's answers, judged from the bytes received so far, and the requests asked of
// it; no socket in sight, so the tests can feed them anything.
struct SocksReply {
    enum class Status { Incomplete, Granted, Refused, Malformed };
    Status status = Status::Incomplete;
    int code = 0;          // the server's reply code, once Granted or Refused
    qsizetype length = 0;  // the whole reply, once Granted: what follows is the target's
};

// SOCKS4: eight bytes, the verdict (90 granted, 91-93 refused) in the second.
SocksReply ParseSocks4Reply(QByteArrayView received);
// SOCKS5: version, code, a reserved byte, then the bound address (IPv4, IPv6 or a name) and
// port; a refusal is known from its code alone.
SocksReply ParseSocks5Reply(QByteArrayView received);

// The greeting: "no authentication", and user/password as well when a login is there.
QByteArray Socks5Greeting(bool withLogin);
// The user/password sub-negotiation; empty when either is longer than its 255 bytes.
QByteArray Socks5Login(const QString& user, const QString& password);
// CONNECT to a name the server resolves; empty when the name is longer than 255 bytes.
QByteArray Socks5NameRequest(const QString& name, std::uint16_t port);
// CONNECT to an address (IPv4 or IPv6, its port included).
QByteArray Socks5AddressRequest(const sockaddr_storage& address);

// Why a server refused: "the SOCKS proxy refused: connection not allowed by ruleset".
QString SocksRefusalText(int version, int code);
