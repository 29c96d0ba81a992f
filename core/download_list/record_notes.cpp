#include "core/download_list/record_notes.h"

#include <QUrl>
#include <algorithm>

#include "core/download_list/records.h"

QString ReadRecordNote(const DownloadRecord& r, std::int32_t mark) {
    const auto& items = r.SiteLogins.items;
    const auto found = std::find_if(items.begin(), items.end(),
                                    [mark](const SiteLogin& l) { return l.LoginFlag == mark; });
    return found == items.end() ? QString() : found->Site;
}

void KeepRecordNote(DownloadRecord& r, std::int32_t mark, const QString& text) {
    QVector<SiteLogin>& items = r.SiteLogins.items;
    items.erase(std::remove_if(items.begin(), items.end(),
                               [mark](const SiteLogin& l) { return l.LoginFlag == mark; }),
                items.end());
    if (text.isEmpty()) {
        if (items.isEmpty()) {
            r.SiteLogins.erase();
        }
        return;
    }
    SiteLogin kept;
    kept.LoginFlag = mark;
    kept.Site = text;
    items.push_back(kept);
    r.SiteLogins.dimensioned = true;
    r.SiteLogins.lowerBound = 0;
}

QString NoteEncoded(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString NoteDecoded(const QString& text) {
    return QUrl::fromPercentEncoding(text.toLatin1());
}
