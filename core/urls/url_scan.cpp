#include "core/urls/url_scan.h"

namespace {

void ScanFor(const QString& text, QLatin1String scheme, QStringList& found) {
    const QLatin1String lineBreak("\r\n");
    for (qsizetype p = text.indexOf(scheme); p >= 0; p = text.indexOf(scheme, p + 1)) {
        qsizetype end = text.indexOf(u' ', p);
        if (end < 0) {
            end = text.indexOf(lineBreak, p);
        }
        found << (end < 0 ? text.mid(p) : text.mid(p, end - p));
    }
}

}  // namespace

QStringList ScanDroppedUrls(const QString& text) {
    QStringList found;
    ScanFor(text, QLatin1String("http://"), found);
    ScanFor(text, QLatin1String("https://"), found);
    ScanFor(text, QLatin1String("ftp://"), found);
    return found;
}

QStringList ScanUriList(const QString& list) {
    QStringList found;
    for (QStringView line : QStringView(list).split(u'\n')) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        if (!line.startsWith(u'#')) {
            found << ScanDroppedUrls(line.toString());
        }
    }
    return found;
}
