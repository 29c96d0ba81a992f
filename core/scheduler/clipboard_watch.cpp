#include "core/scheduler/clipboard_watch.h"

#include <QRegularExpression>

#include "core/download_list/download_list.h"
#include "core/download_list/list_additions.h"
#include "core/settings/settings.h"
#include "core/text/url_codec.h"
#include "core/urls/other_program_link.h"
#include "core/urls/parse_url.h"

namespace {

// The entries of "IgnoreString" are extensions as the user typed them, separated by ",".
bool IsIgnoredExtension(const QString& upperExtension, const QString& ignoreString) {
    for (QStringView entry : QStringView(ignoreString).split(u',')) {
        entry = entry.trimmed();
        if (!entry.isEmpty() && entry.compare(upperExtension, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// Whether a line of the clipboard is the address of a file worth offering; `url` is encoded.
bool WorthOffering(const QString& url, const DownloadListState& list, const Settings& settings) {
    if (!HasDownloadScheme(url)) {
        return false;
    }
    // A folder, not a file.
    if (url.endsWith(u'\\') || url.endsWith(u'/')) {
        return false;
    }
    if (FindActiveDuplicate(list, url) > 0) {
        return false;
    }
    const qsizetype dot = url.lastIndexOf(u'.');
    return dot < 0 || !IsIgnoredExtension(url.mid(dot + 1).toUpper(), settings.IgnoreString);
}

}  // namespace

QStringList ClipboardWatch::considerAll(const QString& clipboardText, const DownloadListState& list,
                                        const Settings& settings) {
    if (settings.CheckClipboard != FlagTrue || clipboardText.isEmpty() ||
        clipboardText == lastSeen_) {
        return {};
    }
    lastSeen_ = clipboardText;
    QStringList offers;
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : clipboardText.split(breaks)) {
        // A magnet link never joins the list, so only the memory of it keeps it from being
        // offered each time it is copied again; encoding would change it.
        if (const QString link = line.trimmed();
            LinkForOtherProgram(link) == OtherProgramLink::Magnet) {
            if (!offeredLinks_.contains(link)) {
                offeredLinks_.insert(link);
                offers << link;
            }
            continue;
        }
        // Blanks around a copied address are not part of it; encoded they would be.
        const QString url = EncodeUrl(line.trimmed());
        if (!offers.contains(url) && WorthOffering(url, list, settings)) {
            offers << url;
        }
    }
    return offers;
}
