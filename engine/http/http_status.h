#pragma once

// The HTTP status codes a download acts on.
namespace HttpStatus {
constexpr int Ok = 200;
constexpr int PartialContent = 206;
constexpr int Unauthorized = 401;
constexpr int ProxyAuthenticationRequired = 407;
constexpr int RangeNotSatisfiable = 416;  // to "bytes=0-": an empty file
constexpr int TooManyRequests = 429;
constexpr int ServiceUnavailable = 503;

constexpr bool IsRedirect(int status) {
    return status >= 300 && status <= 399;
}
constexpr bool IsClientError(int status) {
    return status >= 400 && status <= 499;
}
constexpr bool IsError(int status) {
    return status >= 400 && status <= 599;
}
}  // namespace HttpStatus
