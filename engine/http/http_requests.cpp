#include "engine/http/http_requests.h"

#include "core/download_list/records.h"
#include "core/urls/parse_url.h"
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

// A request target is visible ASCII: a byte above 127 (a name typed in UTF-8), a space or a
// control character goes as "%XX", or the server would read the line wrongly or refuse it.
QByteArray AsciiTarget(const QByteArray& bytes) {
    QByteArray ascii;
    ascii.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F) {
            ascii += c;
        } else {
            ascii += '%';
            ascii += QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        }
    }
    return ascii;
}

void RequestLine(RequestText& request, const HttpRequestTarget& target) {
    const QString& name = target.proxyHttp ? target.url : target.path;
    request.line("GET " + AsciiTarget(WireText(name)) + " HTTP/1.1");
}

// Servers build redirects from "Host", so a port other than the scheme's default must be in it.
void HostLine(RequestText& request, const HttpRequestTarget& target) {
    const std::int32_t defaultPort = DefaultPort(target.https ? Protocol::Https : Protocol::Http);
    QByteArray host = WireText(HostInUrl(target.host));
    if (target.port != 0 && target.port != defaultPort) {
        host += ':' + QByteArray::number(target.port);
    }
    request.line("Host: " + host);
    request.line("User-Agent: " +
                 (target.userAgent.isEmpty() ? QByteArray(UserAgent) : WireText(target.userAgent)));
}

// As browsers do: an https page's address is not told to a plain http server.
void RefererLine(RequestText& request, const HttpRequestTarget& target) {
    if (target.referer.isEmpty()) {
        return;
    }
    if (!target.https && target.referer.startsWith(u"https://", Qt::CaseInsensitive)) {
        return;
    }
    request.line("Referer: " + WireText(target.referer));
}

// A browser's cookies, right after the Referer that came with them.
void CookieLine(RequestText& request, const HttpRequestTarget& target) {
    if (!target.cookie.isEmpty()) {
        request.line("Cookie: " + WireText(target.cookie));
    }
}

void AuthorizationLine(RequestText& request, const HttpRequestTarget& target) {
    if (!target.user.isEmpty() && !target.password.isEmpty()) {
        request.line("Authorization: Basic " + Base64(target.user + u':' + target.password));
    }
}

// A caching proxy must not answer a range from a stale copy. The proxy's login goes only to
// the proxy itself, never to a server.
void ProxyLines(RequestText& request, const HttpRequestTarget& target) {
    if (target.proxyHttp) {
        request.line("Pragma: no-cache");
        request.line("Cache-Control: no-cache");
        if (!target.proxyAuthorization.isEmpty()) {
            request.line("Proxy-Authorization: " + target.proxyAuthorization);
        }
    }
}

void IfRangeLine(RequestText& request, const HttpRequestTarget& target) {
    if (!target.ifRange.isEmpty()) {
        request.line("If-Range: " + target.ifRange);
    }
}

}  // namespace

QByteArray ProbeRequest(const HttpRequestTarget& target) {
    RequestText request;
    RequestLine(request, target);
    request.line("Accept: *.*, */*");
    // The file's bytes as they are: a compressed answer would tell the compressed size.
    request.line("Accept-Encoding: identity");
    request.line("Connection: Keep-Alive");
    HostLine(request, target);
    RefererLine(request, target);
    CookieLine(request, target);
    AuthorizationLine(request, target);
    request.line("Range: bytes=0-");
    IfRangeLine(request, target);
    ProxyLines(request, target);
    return request.finish();
}

QByteArray SegmentRequest(const HttpRequestTarget& target, std::int64_t firstByte,
                          std::int64_t lastByte) {
    RequestText request;
    RequestLine(request, target);
    request.line("Accept: *.*, */*");
    // The bytes must match the planned ranges: no compression.
    request.line("Accept-Encoding: identity");
    request.line("Connection: Keep-Alive");
    HostLine(request, target);
    AuthorizationLine(request, target);
    RefererLine(request, target);
    CookieLine(request, target);
    request.line("Range: bytes=" + QByteArray::number(static_cast<qlonglong>(firstByte)) + '-' +
                 QByteArray::number(static_cast<qlonglong>(lastByte)));
    IfRangeLine(request, target);
    ProxyLines(request, target);
    return request.finish();
}

QByteArray WholeFileRequest(const HttpRequestTarget& target) {
    RequestText request;
    RequestLine(request, target);
    request.line("Accept: *.*, */*");
    request.line("Accept-Encoding: identity");
    AuthorizationLine(request, target);
    RefererLine(request, target);
    CookieLine(request, target);
    request.line("Connection: Keep-Alive");
    HostLine(request, target);
    ProxyLines(request, target);
    return request.finish();
}

QByteArray ArchiveRangeRequest(const HttpRequestTarget& target, std::int64_t firstByte,
                               std::int64_t lastByte) {
    const QByteArray host = WireText(HostInUrl(target.host));
    RequestText request;
    RequestLine(request, target);
    request.line("Accept: *.*, */*");
    request.line("Referer: " + host);
    request.line("Host: " + host);
    request.line("Range: bytes=" + QByteArray::number(static_cast<qlonglong>(firstByte)) + '-' +
                 QByteArray::number(static_cast<qlonglong>(lastByte)));
    return request.finish();
}
