#include "core/urls/other_program_link.h"

#include <algorithm>

#include "core/urls/parse_url.h"

namespace {

const QString kTorrentSuffix = QStringLiteral(".torrent");

// RFC 3986's characters: a magnet link has no blanks, quotes or controls, so that nothing in it
// can be read as more than one argument by whoever the desktop starts with it.
bool IsUriCharacter(QChar c) {
    if (c.unicode() > 0x7e || c.unicode() <= 0x20) {
        return false;
    }
    return c.isLetterOrNumber() || QStringLiteral("-._~:/?#[]@!$&'()*+,;=%").contains(c);
}

bool IsMagnet(const QString& text) {
    static const QString prefix = QStringLiteral("magnet:?");
    if (text.size() <= prefix.size() || !text.startsWith(prefix, Qt::CaseInsensitive)) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), IsUriCharacter);
}

// The path of an address without its query or fragment ("%23" is how a stored address writes
// "#").
QString PathOf(const QString& url) {
    const ParsedUrl parsed = ParseUrl(url);
    if (parsed.status != UrlValid) {
        return {};
    }
    QString path = parsed.path;
    for (const QString& end : {QStringLiteral("?"), QStringLiteral("#"), QStringLiteral("%23")}) {
        if (const qsizetype at = path.indexOf(end, 0, Qt::CaseInsensitive); at >= 0) {
            path.truncate(at);
        }
    }
    return path;
}

}  // namespace

OtherProgramLink LinkForOtherProgram(const QString& text) {
    if (IsMagnet(text)) {
        return OtherProgramLink::Magnet;
    }
    if (HasDownloadScheme(text, Qt::CaseInsensitive)) {
        return PathOf(text).endsWith(kTorrentSuffix, Qt::CaseInsensitive)
                   ? OtherProgramLink::TorrentAddress
                   : OtherProgramLink::None;
    }
    const bool local =
        text.startsWith(u'/') || text.startsWith(QStringLiteral("file:///"), Qt::CaseInsensitive);
    if (local && text.size() > kTorrentSuffix.size() + 1 &&
        text.endsWith(kTorrentSuffix, Qt::CaseInsensitive)) {
        return OtherProgramLink::TorrentFile;
    }
    return OtherProgramLink::None;
}

QString HandlerTypeOf(OtherProgramLink link) {
    switch (link) {
        case OtherProgramLink::Magnet:
            return QStringLiteral("x-scheme-handler/magnet");
        case OtherProgramLink::TorrentAddress:
        case OtherProgramLink::TorrentFile:
            return QStringLiteral("application/x-bittorrent");
        case OtherProgramLink::None:
            break;
    }
    return {};
}

bool HandedOverAsGiven(const QString& text) {
    const OtherProgramLink link = LinkForOtherProgram(text);
    return link == OtherProgramLink::Magnet || link == OtherProgramLink::TorrentFile;
}
