#include "engine/http/http_requests.h"

#include "engine/http/base64.h"

// The header order differs between the probe and the segment requests on purpose: servers have
// seen both for years, and some were only ever tested against one. Keep each order as it is.

namespace {

// A CR or LF inside a value would end the header line early and let the rest pass as headers
// of its own; no legitimate host, path, URL, name or referer contains one.
QByteArray WireText(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    return bytes;
}

class RequestText {
public:
    void line(const QByteArray& text) {
        bytes_ += text;
        bytes_ += "\r\n";
    }
    QByteArray finish() {
        line({});
        return bytes_;
    }

private:
    QByteArray bytes_;
};

void RequestLine(RequestText& request, const HttpRequestTarget& target) {
    const QString& name = target.proxyHttp ? target.url : target.path;
    request.line("GET " + WireText(name) + " HTTP/1.1");
}

void HostLine(RequestText& request, const HttpRequestTarget& target) {
    request.line("Host: " + WireText(target.host));
}

void RefererLine(RequestText& request, const HttpRequestTarget& target) {
    if (!target.referer.isEmpty()) {
        request.line("Referer: " + WireText(target.referer));
    }
}

void AuthorizationLine(RequestText& request, const HttpRequestTarget& target) {
    if (!target.user.isEmpty() && !target.password.isEmpty()) {
        request.line("Authorization: Basic " + Base64(target.user + u':' + target.password));
    }
}

// A caching proxy must not answer a range from a stale copy.
void CacheLines(RequestText& request, const HttpRequestTarget& target) {
    if (target.proxyHttp) {
        request.line("Pragma: no-cache");
        request.line("Cache-Control: no-cache");
    }
}

}  // namespace

QByteArray ProbeRequest(const HttpRequestTarget& target) {
    RequestText request;
    RequestLine(request, target);
    request.line("Accept: *.*, */*");
    request.line("Connection: Keep-Alive");
    HostLine(request, target);
    RefererLine(request, target);
    AuthorizationLine(request, target);
    request.line("Range: bytes=0-");
    CacheLines(request, target);
    return request.finish();
}

QByteArray SegmentRequest(const HttpRequestTarget& target, std::int64_t firstByte,
                          std::int64_t lastByte) {
    RequestText request;
    RequestLine(request, target);
    request.line("Accept: *.*, */*");
    // An empty value asks for the identity encoding: the bytes must match the planned ranges.
    request.line("Accept-Encoding: ");
    request.line("Connection: Keep-Alive");
    HostLine(request, target);
    AuthorizationLine(request, target);
    RefererLine(request, target);
    request.line("Range: bytes=" + QByteArray::number(static_cast<qlonglong>(firstByte)) + '-' +
                 QByteArray::number(static_cast<qlonglong>(lastByte)));
    CacheLines(request, target);
    return request.finish();
}

QByteArray WholeFileRequest(const HttpRequestTarget& target) {
    RequestText request;
    RequestLine(request, target);
    request.line("Accept: *.*, */*");
    request.line("Accept-Encoding: ");
    AuthorizationLine(request, target);
    RefererLine(request, target);
    request.line("Connection: Keep-Alive");
    HostLine(request, target);
    CacheLines(request, target);
    return request.finish();
}
