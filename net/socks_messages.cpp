#include "net/socks_messages.h"

#include <netinet/in.h>

namespace {

int Byte(QByteArrayView bytes, qsizetype at) {
    return static_cast<unsigned char>(bytes[at]);
}

SocksReply Reply(SocksReply::Status status, int code = 0, qsizetype length = 0) {
    return SocksReply{status, code, length};
}

// The bound address's length by its type (1 IPv4, 3 a name, 4 IPv6); -1 while the name's length
// has not come, 0 for a type that is none of them.
qsizetype BoundAddressLength(QByteArrayView received) {
    switch (Byte(received, 3)) {
        case 1:
            return 4;
        case 4:
            return 16;
        case 3:
            return received.size() < 5 ? -1 : 1 + Byte(received, 4);
        default:
            return 0;
    }
}

void AppendPort(QByteArray& bytes, std::uint16_t port) {
    bytes.append(char(port >> 8)).append(char(port & 0xFF));
}

}  // namespace

SocksReply ParseSocks4Reply(QByteArrayView received) {
    if (received.size() < 2) {
        return Reply(SocksReply::Status::Incomplete);
    }
    const int code = Byte(received, 1);
    if ((Byte(received, 0) != 0 && Byte(received, 0) != 4) || code < 90 || code > 93) {
        return Reply(SocksReply::Status::Malformed);
    }
    if (code != 90) {
        return Reply(SocksReply::Status::Refused, code);
    }
    return received.size() < 8 ? Reply(SocksReply::Status::Incomplete)
                               : Reply(SocksReply::Status::Granted, code, 8);
}

SocksReply ParseSocks5Reply(QByteArrayView received) {
    if (received.size() < 2) {
        return Reply(received.isEmpty() || Byte(received, 0) == 5 ? SocksReply::Status::Incomplete
                                                                  : SocksReply::Status::Malformed);
    }
    if (Byte(received, 0) != 5) {
        return Reply(SocksReply::Status::Malformed);
    }
    if (Byte(received, 1) != 0) {
        return Reply(SocksReply::Status::Refused, Byte(received, 1));
    }
    if (received.size() < 4) {
        return Reply(SocksReply::Status::Incomplete);
    }
    const qsizetype address = BoundAddressLength(received);
    if (address == 0) {
        return Reply(SocksReply::Status::Malformed);
    }
    const qsizetype length = 4 + address + 2;
    return address < 0 || received.size() < length ? Reply(SocksReply::Status::Incomplete)
                                                   : Reply(SocksReply::Status::Granted, 0, length);
}

QByteArray Socks5Greeting(bool withLogin) {
    return withLogin ? QByteArray("\x05\x02\x00\x02", 4) : QByteArray("\x05\x01\x00", 3);
}

QByteArray Socks5Login(const QString& user, const QString& password) {
    const QByteArray name = user.toUtf8();
    const QByteArray secret = password.toUtf8();
    if (name.size() > 255 || secret.size() > 255) {
        return {};
    }
    return QByteArray(1, '\x01') + char(name.size()) + name + char(secret.size()) + secret;
}

QByteArray Socks5NameRequest(const QString& name, std::uint16_t port) {
    const QByteArray bytes = name.toUtf8();
    if (bytes.size() > 255) {
        return {};
    }
    QByteArray request = QByteArray("\x05\x01\x00\x03", 4) + char(bytes.size()) + bytes;
    AppendPort(request, port);
    return request;
}

QByteArray Socks5AddressRequest(const sockaddr_storage& address) {
    QByteArray request("\x05\x01\x00", 3);
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        request.append(char(4)).append(reinterpret_cast<const char*>(&v6.sin6_addr), 16);
        AppendPort(request, ntohs(v6.sin6_port));
    } else {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        request.append(char(1)).append(reinterpret_cast<const char*>(&v4.sin_addr), 4);
        AppendPort(request, ntohs(v4.sin_port));
    }
    return request;
}

QString SocksRefusalText(int version, int code) {
    static const char* const socks5[] = {
        "general SOCKS server failure", "connection not allowed by ruleset",
        "network unreachable",          "host unreachable",
        "connection refused",           "TTL expired",
        "command not supported",        "address type not supported"};
    static const char* const socks4[] = {"request rejected or failed",
                                         "it cannot reach the client's identd",
                                         "the client's identd reports another user"};
    const char* reason = nullptr;
    if (version == 5 && code >= 1 && code <= 8) {
        reason = socks5[code - 1];
    } else if (version == 4 && code >= 91 && code <= 93) {
        reason = socks4[code - 91];
    }
    const QString prefix = QStringLiteral("the SOCKS proxy refused: ");
    return reason != nullptr ? prefix + QLatin1String(reason)
                             : prefix + QStringLiteral("reply code %1").arg(code);
}
