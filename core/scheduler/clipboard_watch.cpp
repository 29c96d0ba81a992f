#include "core/scheduler/clipboard_watch.h"

#include "core/download_list/download_list.h"
#include "core/download_list/list_additions.h"
#include "core/settings/settings.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"

namespace {

// The first line of a copied text: on this desktop lines end in a line feed, a carriage
// return may come before it.
QString FirstLine(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            return text.left(i);
        }
    }
    return text;
}

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

}  // namespace

std::optional<QString> ClipboardWatch::consider(const QString& clipboardText,
                                                const DownloadListState& list,
                                                const Settings& settings) {
    if (settings.CheckClipboard != FlagTrue || clipboardText.isEmpty() ||
        clipboardText == lastSeen_) {
        return std::nullopt;
    }
    lastSeen_ = clipboardText;
    // Blanks around a copied address are not part of it; encoded they would be.
    const QString url = EncodeUrl(FirstLine(clipboardText).trimmed());
    if (!HasDownloadScheme(url)) {
        return std::nullopt;
    }
    // A folder, not a file.
    if (url.endsWith(u'\\') || url.endsWith(u'/')) {
        return std::nullopt;
    }
    if (FindActiveDuplicate(list, url) > 0) {
        return std::nullopt;
    }
    const qsizetype dot = url.lastIndexOf(u'.');
    if (dot >= 0 && IsIgnoredExtension(url.mid(dot + 1).toUpper(), settings.IgnoreString)) {
        return std::nullopt;
    }
    return url;
}
