#pragma once

#include <QString>
#include <cstdint>

// Socket errors travel as WinSock numbers, because the download engine and the update check
// compare them (10035 would block, 10049 address not available, 10061 refused, ...).
namespace WinSock {
constexpr std::int32_t WouldBlock = 10035;
constexpr std::int32_t InProgress = 10036;
constexpr std::int32_t AddressFamilyNotSupported = 10047;
constexpr std::int32_t AddressNotAvailable = 10049;
constexpr std::int32_t NetworkDown = 10050;
constexpr std::int32_t NetworkUnreachable = 10051;
constexpr std::int32_t ConnectionAborted = 10053;
constexpr std::int32_t ConnectionReset = 10054;
constexpr std::int32_t NoBufferSpace = 10055;
constexpr std::int32_t NotConnected = 10057;
constexpr std::int32_t Shutdown = 10058;
constexpr std::int32_t TimedOut = 10060;
constexpr std::int32_t ConnectionRefused = 10061;
constexpr std::int32_t HostDown = 10064;
constexpr std::int32_t HostUnreachable = 10065;
constexpr std::int32_t TooManySockets = 10024;
constexpr std::int32_t AccessDenied = 10013;
constexpr std::int32_t InvalidArgument = 10022;
constexpr std::int32_t AddressInUse = 10048;
// Ours, beyond WinSock's range: the TLS handshake or the certificate check failed.
constexpr std::int32_t TlsFailed = 20001;
// Ours: the HTTP proxy did not open the tunnel to the target (refused, or gave no answer).
constexpr std::int32_t TunnelRefused = 20002;
}  // namespace WinSock

// The WinSock number for an errno value; 0 stays 0.
std::int32_t WinSockErrorFromErrno(int error);

// What a socket error number means, in the engine's English ("connection refused"); "socket
// error" for a number it does not know.
const char* SocketErrorName(std::int32_t error);
// The words, then the number: "connection refused (10061)". For the log and brenloft-get.
QString SocketErrorText(std::int32_t error);
