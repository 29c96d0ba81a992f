#include "core/urls/address_lines.h"

#include <QFile>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

#include "core/text/url_codec.h"
#include "core/urls/other_program_link.h"
#include "core/urls/parse_url.h"
#include "core/urls/url_scan.h"

namespace {

// A list of addresses this large is not a list a person made.
constexpr qint64 MaxListBytes = 8 * 1024 * 1024;

const QString UriList = QStringLiteral("text/uri-list");

// Why ParseUrl refused a line that begins with a scheme, told from the part before the path.
QString WhyRefused(const QString& line) {
    if (!HasDownloadScheme(line, Qt::CaseInsensitive)) {
        return QStringLiteral("not an http://, https:// or ftp:// address");
    }
    const QString rest = line.mid(line.indexOf(QLatin1String("//")) + 2);
    static const QRegularExpression end(QStringLiteral("[/?#\\\\]"));
    const qsizetype cut = rest.indexOf(end);
    if (cut < 0) {
        return QStringLiteral(
            "it ends at the server name: a file's address goes on with \"/\" "
            "and its path");
    }
    const QString server = rest.left(cut);
    const QString host = server.mid(server.lastIndexOf(u'@') + 1);
    if (host.isEmpty() || host.startsWith(u':')) {
        return QStringLiteral("no server name after the scheme");
    }
    return QStringLiteral("the port is not a number from 1 to 65535");
}

// "text/plain" with or without a character set (QMimeData::hasText also counts a link list).
bool OffersPlainText(const QMimeData& data) {
    const QStringList formats = data.formats();
    return std::any_of(formats.begin(), formats.end(), [](const QString& format) {
        return format == QLatin1String("text/plain") ||
               format.startsWith(QLatin1String("text/plain;"));
    });
}

}  // namespace

AddressLines CheckAddressLines(const QString& text) {
    AddressLines lines;
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    for (const QString& raw : text.split(breaks)) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) {
            continue;
        }
        // A magnet link is usable too: adding hands it to the torrent program.
        if (ParseUrl(EncodeUrl(line)).status == UrlValid || HandedOverAsGiven(line)) {
            lines.usable << line;
        } else {
            lines.refused.append({line, WhyRefused(line)});
        }
    }
    return lines;
}

bool ReadAddressFile(const QString& path, AddressLines& lines, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    if (file.size() > MaxListBytes) {
        error = QStringLiteral("the file is too large to be a list of addresses");
        return false;
    }
    lines = CheckAddressLines(QString::fromUtf8(file.read(MaxListBytes)));
    return true;
}

QStringList DroppedAddresses(const QMimeData& data) {
    QStringList found;
    if (data.hasFormat(UriList)) {
        for (const QUrl& url : data.urls()) {
            AddressLines lines;
            QString error;
            if (url.isLocalFile() && ReadAddressFile(url.toLocalFile(), lines, error)) {
                found << lines.usable;
            }
        }
        if (!found.isEmpty()) {
            return found;
        }
    }
    // A link from a browser comes as both a list and text; its text is the one address.
    if (OffersPlainText(data)) {
        return ScanDroppedUrls(data.text());
    }
    if (data.hasFormat(UriList)) {
        return ScanUriList(QString::fromUtf8(data.data(UriList)));
    }
    return {};
}
