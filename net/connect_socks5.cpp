// Connecting an entry through a SOCKS5 server: the method it picks, the login when it asks for
// one, and the request for the target, by name (the server resolves it) or by an address looked
// up here.

#include <sys/socket.h>

#include "core/diagnostics/log_categories.h"
#include "net/connect_pipeline.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/socks_messages.h"

namespace {

constexpr int NoAuthentication = 0x00;
constexpr int UserPassword = 0x02;
constexpr int NoAcceptableMethod = 0xFF;

int Byte(const QByteArray& bytes, qsizetype at) {
    return static_cast<unsigned char>(bytes[at]);
}

}  // namespace

void ConnectPipeline::socks5MethodChosen(int index) {
    SocketEntry* e = sockets_.entry(index);
    if (e->RecvBuffer.size() < 2) {
        return;
    }
    const int version = Byte(e->RecvBuffer, 0);
    const int method = Byte(e->RecvBuffer, 1);
    const bool withLogin = !e->Socks.user.isEmpty();
    e->RecvBuffer.remove(0, 2);
    if (version == 5 && method == NoAuthentication) {
        socks5Request(index);
    } else if (version == 5 && method == UserPassword && withLogin) {
        const QByteArray login = Socks5Login(e->Socks.user, e->Socks.password);
        if (login.isEmpty()) {
            proxyRefused(index, QStringLiteral("the SOCKS login is longer than 255 bytes"));
            return;
        }
        socksSend(index, login, SocksHandshake::Phase::Login);
    } else if (version == 5 && method == NoAcceptableMethod) {
        proxyRefused(index, withLogin ? QStringLiteral("the SOCKS proxy refused: no acceptable "
                                                       "authentication method")
                                      : QStringLiteral("the SOCKS proxy wants a login"));
    } else {
        proxyRefused(index, SocksNonsense());
    }
}

void ConnectPipeline::socks5LoginAnswered(int index) {
    SocketEntry* e = sockets_.entry(index);
    if (e->RecvBuffer.size() < 2) {
        return;
    }
    const int status = Byte(e->RecvBuffer, 1);
    e->RecvBuffer.remove(0, 2);
    if (status != 0) {
        proxyRefused(index, QStringLiteral("the SOCKS proxy refused the login"));
        return;
    }
    socks5Request(index);
}

void ConnectPipeline::socks5Request(int index) {
    SocketEntry* e = sockets_.entry(index);
    const auto port = static_cast<std::uint16_t>(e->TargetPort);
    sockaddr_storage address{};
    if (LiteralAddress(e->TargetHost, true, address)) {
        socksSend(index, Socks5AddressRequest(WithPort(address, port)),
                  SocksHandshake::Phase::Request5);
        return;
    }
    if (e->Socks.remoteNames) {
        // The name as given, to the server only: nothing is looked up here.
        const QByteArray request = Socks5NameRequest(e->TargetHost, port);
        if (request.isEmpty()) {
            proxyRefused(index, QStringLiteral("the name is too long for the SOCKS proxy"));
            return;
        }
        socksSend(index, request, SocksHandshake::Phase::Request5);
        return;
    }
    e->Socks.phase = SocksHandshake::Phase::Off;  // the server has nothing to say meanwhile
    lookUp(index, e->TargetHost, AF_UNSPEC,
           [this](int i, const std::vector<sockaddr_storage>& found) {
               socks5TargetLookedUp(i, found);
           });
}

void ConnectPipeline::socks5TargetLookedUp(int index, const std::vector<sockaddr_storage>& found) {
    SocketEntry* e = sockets_.entry(index);
    if (e->State != EntryState::SocksRequested || !e->UseSocks) {
        // The server closed the connection, or it failed, while the name was looked up.
        return;
    }
    if (found.empty()) {
        socksTargetNotFound(index);
        return;
    }
    // One address only: the server gets a single try, in the order a direct connect would.
    qCDebug(lcNet).nospace().noquote()
        << "entry " << index << ": asking the SOCKS server for " << AddressText(found.front());
    socksSend(
        index,
        Socks5AddressRequest(WithPort(found.front(), static_cast<std::uint16_t>(e->TargetPort))),
        SocksHandshake::Phase::Request5);
}
