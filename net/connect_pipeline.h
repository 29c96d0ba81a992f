#pragma once

#include <sys/socket.h>

#include <QString>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "net/host_resolver.h"

class TlsContext;
class VelmoraSockets;
struct SocketEntry;

// Connecting an entry of the socket table, step by step as readiness comes: the host name looked
// up, each of its addresses tried in turn until one answers, then through the SOCKS4 server or the
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
    void socksReplied(int index);
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
    void socksConnected(int index);
    void socksTargetLookedUp(int index, const std::vector<sockaddr_storage>& found);
    void socksRequest(int index);
    // A proxy (SOCKS or HTTP tunnel) granted the connection: the owner hears Connect, then what
    // the target sent right behind the grant, if the connection is still the same by then.
    void handOverThroughProxy(int index);
    // The connection (TCP or through SOCKS) is up: the owner hears it, or TLS starts first.
    void connectionUp(int index);
    void startTls(int index);
    void tlsFailed(int index);
    // The HTTP proxy tunnel (http_tunnel.cpp): where to connect, the CONNECT request, and a
    // refusal reported as TunnelRefused.
    void aimTunnel(SocketEntry& e, QString& host, std::int32_t& port);
    void tunnelRequest(int index);
    void tunnelRefused(int index, const QString& problem);

    VelmoraSockets& sockets_;
    TlsContext& tls_;
    HostResolver resolver_;
};
