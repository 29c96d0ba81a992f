#include "net/winsock_errors.h"

#include <array>
#include <cerrno>
#include <utility>

std::int32_t WinSockErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return 0;
        case EWOULDBLOCK:
            return WinSock::WouldBlock;
        case EINPROGRESS:
        case EALREADY:
            return WinSock::InProgress;
        case EAFNOSUPPORT:
            return WinSock::AddressFamilyNotSupported;  // no IPv6 on this machine
        case EADDRNOTAVAIL:
            return WinSock::AddressNotAvailable;
        case ENETDOWN:
            return WinSock::NetworkDown;
        case ENETUNREACH:
            return WinSock::NetworkUnreachable;
        case ECONNABORTED:
            return WinSock::ConnectionAborted;
        case ECONNRESET:
            return WinSock::ConnectionReset;
        case ENOBUFS:
        case ENOMEM:
            return WinSock::NoBufferSpace;
        case ENOTCONN:
            return WinSock::NotConnected;
        case EPIPE:
        case ESHUTDOWN:
            return WinSock::Shutdown;
        case ETIMEDOUT:
            return WinSock::TimedOut;
        case ECONNREFUSED:
            return WinSock::ConnectionRefused;
        case EHOSTDOWN:
            return WinSock::HostDown;
        case EHOSTUNREACH:
            return WinSock::HostUnreachable;
        case EMFILE:
        case ENFILE:
            return WinSock::TooManySockets;
        case EACCES:
        case EPERM:
            return WinSock::AccessDenied;
        case EADDRINUSE:
            return WinSock::AddressInUse;
        default:
            return WinSock::InvalidArgument;
    }
}

namespace {

constexpr std::array<std::pair<std::int32_t, const char*>, 21> kNames = {{
    {WinSock::WouldBlock, "the operation would block"},
    {WinSock::InProgress, "connection in progress"},
    {WinSock::AddressFamilyNotSupported, "address family not supported"},
    // Unknown host names are reported under this number too.
    {WinSock::AddressNotAvailable, "host not found"},
    {WinSock::NetworkDown, "network down"},
    {WinSock::NetworkUnreachable, "network unreachable"},
    {WinSock::ConnectionAborted, "connection aborted"},
    {WinSock::ConnectionReset, "connection reset by the server"},
    {WinSock::NoBufferSpace, "no buffer space left"},
    {WinSock::NotConnected, "not connected"},
    {WinSock::Shutdown, "connection shut down"},
    {WinSock::TimedOut, "connection timed out"},
    {WinSock::ConnectionRefused, "connection refused"},
    {WinSock::HostDown, "host down"},
    {WinSock::HostUnreachable, "host unreachable"},
    {WinSock::TooManySockets, "too many open files"},
    {WinSock::AccessDenied, "access denied"},
    {WinSock::InvalidArgument, "invalid argument"},
    {WinSock::AddressInUse, "address already in use"},
    {WinSock::TlsFailed, "TLS handshake failed"},
    {WinSock::TunnelRefused, "the proxy opened no tunnel"},
}};

}  // namespace

const char* SocketErrorName(std::int32_t error) {
    for (const auto& [number, name] : kNames) {
        if (number == error) {
            return name;
        }
    }
    return "socket error";
}

QString SocketErrorText(std::int32_t error) {
    return QStringLiteral("%1 (%2)").arg(QLatin1String(SocketErrorName(error))).arg(error);
}
