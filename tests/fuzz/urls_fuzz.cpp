// Any text as an address: encoding, decoding, splitting, the form shown to people, and the
// request a valid one leads to.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>

#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/http/http_requests.h"

namespace {

// The request's head is lines that end in CR LF, with one empty line at its end and nowhere
// else; its first line is "GET ", a target of visible ASCII, " HTTP/1.1". Anything else would
// let an address smuggle a header or a second request to the server.
bool WellFormedHead(const QByteArray& request, const QByteArray& host) {
    if (!request.endsWith("\r\n\r\n") || request.indexOf("\r\n\r\n") != request.size() - 4) {
        return false;
    }
    for (qsizetype i = 0; i < request.size(); ++i) {
        if ((request[i] == '\n') != (i > 0 && request[i - 1] == '\r') ||
            (request[i] == '\r' && (i + 1 == request.size() || request[i + 1] != '\n'))) {
            return false;
        }
    }
    const QByteArray first = request.left(request.indexOf("\r\n"));
    if (!first.startsWith("GET ") || !first.endsWith(" HTTP/1.1")) {
        return false;
    }
    for (const char c : first.mid(4, first.size() - 4 - 9)) {
        if (c <= ' ' || c >= 127) {
            return false;
        }
    }
    // An IPv6 address goes in brackets, or its colons would read as a port.
    return !host.contains(':') || request.contains("\r\nHost: [" + host + ']');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString encoded = EncodeUrl(text);
    const ParsedUrl parsed = ParseUrl(encoded);
    if (parsed.status == UrlValid) {
        if (parsed.host.isEmpty() || parsed.port < 1 || parsed.port > 65535 ||
            !parsed.path.startsWith(u'/')) {
            __builtin_trap();
        }
        // What adding stores must split the same way again.
        const ParsedUrl again = ParseUrl(encoded);
        if (again.host != parsed.host || again.path != parsed.path) {
            __builtin_trap();
        }
        // A host with a colon came in brackets, and is an IPv6 address.
        unsigned char address[16];
        if (parsed.host.contains(u':') &&
            ::inet_pton(AF_INET6, parsed.host.toLatin1().constData(), address) != 1) {
            __builtin_trap();
        }
        const bool https = parsed.protocol == 2;
        const HttpRequestTarget target{parsed.host, parsed.path,     encoded,
                                       parsed.user, parsed.password, encoded,
                                       false,       https,           parsed.port};
        const QByteArray host = parsed.host.toUtf8();
        if (!WellFormedHead(ProbeRequest(target), host) ||
            !WellFormedHead(SegmentRequest(target, 0, 99), host)) {
            __builtin_trap();
        }
    }
    (void)DecodeUrl(text);
    (void)DecodeUrl(encoded);
    // A password never shows in the host part (the path may hold any text, a copy included).
    if (parsed.status == UrlValid && !parsed.password.isEmpty()) {
        const QString shown = UrlForDisplay(encoded);
        const qsizetype hostStart = shown.indexOf(u"//") + 2;
        const QString hostPart = shown.mid(hostStart, shown.indexOf(u'/', hostStart) - hostStart);
        if (hostPart.contains(u':' + parsed.password + u'@')) {
            __builtin_trap();
        }
    }
    (void)UrlForDisplay(text);
    return 0;
}
