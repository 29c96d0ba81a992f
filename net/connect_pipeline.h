#pragma once

#include <sys/socket.h>

#include <QString>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "net/host_resolver.h"
#include "net/socks_proxy.h"

class TlsContext;
class VelmoraSockets;
struct SocketEntry;
struct SocksReply;

// Connecting an entry of the socket table, step by step as readiness comes: the host name looked
// up, each of its addresses tried in turn until one answers, then through the SOCKS server or the
// HTTP proxy's tunnel when the entry has one, and the TLS handshake when it speaks TLS; the owner
// hears Connect once all of it stands, or one error. Every step finds its entry again by index and
// checks its generation, since the owner's handlers may close or replace the connection between
// steps. The socket module owns one and hands it the readiness of entries still connecting.
class ConnectPipeline {
public:
    ConnectPipeline(VelmoraSockets& sockets, TlsContext& tls);
    ConnectPipeline(const ConnectPipeline&) = delete;
    ConnectPipeline& operator=(const ConnectPipeline&) = delete;

    // Starts connecting the entry to server:port (through its proxy, if it has one).
    void start(int index, const QString& server, std::int32_t port);
    // The connect under way was answered (the socket is writable): the next address after a
    // failure, or the next step after success.
    void tcpAnswered(int index);
    // The TCP connection stands: the SOCKS request, the tunnel's CONNECT, TLS, or the owner.
    void tcpConnected(int index);
    // Readiness for an entry in the middle of a step that reads for itself.
    void socksReadable(int index);
    void tunnelReadable(int index);
    void tlsStep(int index);

    void setLookup(HostLookup lookup) { resolver_.setLookup(std::move(lookup)); }
    int lookupsInFlight() const { return resolver_.inFlight(); }

private:
    // What a look-up leads to, if the entry still waits for it: the name's usable addresses in
    // the order they are tried (none when it has none).
    using LookedUp = std::function<void(int index, const std::vector<sockaddr_storage>& found)>;

    void lookUp(int index, const QString& name, int family, LookedUp then);
    void connectLookedUp(int index, const std::vector<sockaddr_storage>& found, std::int32_t port);
    void connectTo(int index, const sockaddr_storage& target);
    // The connect under way failed or went unanswered: the next of the name's addresses.
    void tryNextAddress(int index);
    // After an attempt has started: the next address if this one stays silent too long.
    void limitAttempt(int index);
    // SOCKS (connect_socks.cpp, connect_socks5.cpp): each message sent names the answer it
    // waits for; every answer is judged once whole, a refusal reported as TunnelRefused.
    void socksConnected(int index);
    void socksTargetLookedUp(int index, const std::vector<sockaddr_storage>& found);
    void socksRequest(int index);
    void socksSend(int index, const QByteArray& bytes, SocksHandshake::Phase next);
    void socksTargetNotFound(int index);
    void socksAnswered(int index, const SocksReply& reply);
    void socks5MethodChosen(int index);
    void socks5LoginAnswered(int index);
    void socks5Request(int index);
    void socks5TargetLookedUp(int index, const std::vector<sockaddr_storage>& found);
    static QString SocksNonsense();
    // What both proxies share (connect_proxy.cpp). The proxy's next bytes, read past the limiter
    // and the owner: false when none came, or when it closed (then refused with `closed`).
    bool proxyReceived(int index, const QString& closed);
    // The proxy granted the connection with an answer of `replyLength` bytes: TLS starts (bytes
    // behind the answer are then refused with `aheadOfTls`), or the owner hears Connect.
    void proxyGranted(int index, qsizetype replyLength, const QString& aheadOfTls);
    // The owner hears Connect, then what the target sent right behind the grant, if the
    // connection is still the same by then.
    void handOverThroughProxy(int index);
    // The proxy did not connect the target: the reason kept, TunnelRefused reported.
    void proxyRefused(int index, const QString& problem);
    // The connection (TCP or through SOCKS) is up: the owner hears it, or TLS starts first.
    void connectionUp(int index);
    void startTls(int index);
    void tlsFailed(int index);
    // The HTTP proxy tunnel (http_tunnel.cpp): where to connect, the CONNECT request, and a 407
    // answered once with the login on a new connection.
    void aimTunnel(SocketEntry& e, QString& host, std::int32_t& port);
    void tunnelRequest(int index);
    void tunnelLoginWanted(int index);

    VelmoraSockets& sockets_;
    TlsContext& tls_;
    HostResolver resolver_;
};
