// Any text as an address: encoding, decoding, splitting and the form shown to people.
#include <cstddef>
#include <cstdint>

#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"

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
