#include "engine/checksum/sums_files.h"

#include <QRegularExpression>

#include "core/download_list/records.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"

namespace {

// "HEX  name" or "HEX *name" (the GNU tools' text and binary forms).
const QRegularExpression& GnuLine() {
    static const QRegularExpression line(QStringLiteral("^([0-9A-Fa-f]+) [ *]?(.+)$"));
    return line;
}

// "SHA256 (name) = HEX" (the BSD tools' form, also in Fedora's CHECKSUM files).
const QRegularExpression& BsdLine() {
    static const QRegularExpression line(
        QStringLiteral("^([A-Za-z0-9-]+) ?\\((.+)\\) ?= ?([0-9A-Fa-f]+)$"));
    return line;
}

std::optional<Checksum> ByLength(const QString& hex) {
    return ParseChecksum(hex);  // bare hex: its length says the kind
}

QString PlainName(QString name) {
    name = name.trimmed();
    if (name.startsWith(u"./")) {
        name.remove(0, 2);
    }
    return name;
}

}  // namespace

QList<SumsSource> SumsSourcesFor(const QString& encodedUrl) {
    const ParsedUrl parsed = ParseUrl(encodedUrl);
    if (parsed.status != UrlValid || parsed.protocol == Protocol::Ftp) {
        return {};
    }
    // The path without its query: the query (a token, a signature) goes after each new name.
    const qsizetype queryAt = encodedUrl.indexOf(u'?', encodedUrl.indexOf(u"://") + 3);
    const QString base = queryAt < 0 ? encodedUrl : encodedUrl.left(queryAt);
    const QString query = queryAt < 0 ? QString() : encodedUrl.mid(queryAt);
    const qsizetype slash = base.lastIndexOf(u'/');
    const QString folder = base.left(slash + 1);
    const QString name = base.mid(slash + 1);
    QList<SumsSource> sources;
    if (!name.isEmpty()) {
        for (const QLatin1StringView extension :
             {QLatin1StringView(".sha256"), QLatin1StringView(".sha512")}) {
            sources.append({DecodeUrl(name) + extension, base + extension + query, true});
        }
    }
    for (const QLatin1StringView sums :
         {QLatin1StringView("SHA256SUMS"), QLatin1StringView("SHA512SUMS"),
          QLatin1StringView("CHECKSUMS")}) {
        sources.append({QString(sums), folder + sums + query, false});
    }
    return sources;
}

std::optional<Checksum> ChecksumInSums(const QByteArray& body, const QString& fileName,
                                       bool sibling) {
    if (body.contains('\0') || body.size() > MaxSumsFileBytes) {
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(body);
    const QStringList lines = text.split(u'\n');
    std::optional<Checksum> best;
    std::optional<Checksum> onlyLine;
    int hashLines = 0;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        std::optional<Checksum> found;
        QString named;
        if (const QRegularExpressionMatch bsd = BsdLine().match(line); bsd.hasMatch()) {
            const std::optional<DigestKind> kind = DigestKindOf(bsd.captured(1));
            const std::optional<Checksum> value = ByLength(bsd.captured(3));
            found = kind && value && value->kind == *kind ? value : std::nullopt;
            named = bsd.captured(2);
        } else if (const QRegularExpressionMatch gnu = GnuLine().match(line); gnu.hasMatch()) {
            found = ByLength(gnu.captured(1));
            named = gnu.captured(2);
        } else if (sibling) {
            found = ByLength(line);  // the value alone
            named = fileName;
        }
        if (!found) {
            continue;
        }
        ++hashLines;
        onlyLine = found;
        const QString plain = PlainName(named);
        const bool names = plain == fileName || (sibling && plain.section(u'/', -1) == fileName);
        if (names && (!best || found->kind > best->kind)) {
            best = found;
        }
    }
    // A sibling file belongs to this file whatever name its one line gives (it may have been
    // made before the file was renamed on the server).
    if (!best && sibling && hashLines == 1) {
        return onlyLine;
    }
    return best;
}
