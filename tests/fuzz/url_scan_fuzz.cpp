// Text dropped on the basket: every address found is a piece of the text that starts with a
// scheme.
#include <cstddef>
#include <cstdint>

#include "core/urls/url_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QStringList& found : {ScanDroppedUrls(text), ScanUriList(text)}) {
        for (const QString& url : found) {
            if (!(url.startsWith(QStringLiteral("http://")) ||
                  url.startsWith(QStringLiteral("https://")) ||
                  url.startsWith(QStringLiteral("ftp://"))) ||
                !text.contains(url)) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
