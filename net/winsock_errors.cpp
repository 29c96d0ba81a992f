#include "net/winsock_errors.h"

#include <cerrno>

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
