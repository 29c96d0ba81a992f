#include "core/download_list/checksum_note.h"

#include <QStringList>
#include <QUrl>
#include <algorithm>

#include "core/download_list/records.h"

namespace {

// The record's SiteLogins array holds no logins (those live in the list's own table); beside
// the earlier addresses (mark 2) it holds this note, in the Site text of an element marked 3:
// "ck1;EXPECTED;SOURCE;OUTCOME;LOOKED;ACTUAL;SHA256", the free texts percent-encoded so that
// the list file's text stays ASCII in any locale. Older versions read and write it as it is.
constexpr std::int32_t ChecksumNoteMark = 3;
constexpr QLatin1StringView kTag{"ck1"};
constexpr QChar kSeparator = u';';

QString Encoded(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString Decoded(const QString& text) {
    return QUrl::fromPercentEncoding(text.toLatin1());
}

bool IsNote(const SiteLogin& l) {
    return l.LoginFlag == ChecksumNoteMark;
}

}  // namespace

ChecksumNote ReadChecksumNote(const DownloadRecord& r) {
    ChecksumNote note;
    const auto found = std::find_if(r.SiteLogins.items.begin(), r.SiteLogins.items.end(), IsNote);
    if (found == r.SiteLogins.items.end()) {
        return note;
    }
    const QStringList fields = found->Site.split(kSeparator);
    if (fields.size() != 7 || fields[0] != kTag) {
        return note;
    }
    if (const std::optional<Checksum> expected = ParseChecksum(fields[1])) {
        note.expected = *expected;
    }
    note.source = Decoded(fields[2]);
    const int outcome = fields[3].toInt();
    if (outcome >= 0 && outcome <= static_cast<int>(ChecksumNote::Outcome::Unreadable)) {
        note.outcome = static_cast<ChecksumNote::Outcome>(outcome);
    }
    note.looked = fields[4] == u'1';
    note.actual = Decoded(fields[5]);
    note.sha256 = fields[6];
    return note;
}

void KeepChecksumNote(DownloadRecord& r, const ChecksumNote& note) {
    QVector<SiteLogin>& items = r.SiteLogins.items;
    items.erase(std::remove_if(items.begin(), items.end(), IsNote), items.end());
    if (note == ChecksumNote{}) {
        if (items.isEmpty()) {
            r.SiteLogins.erase();
        }
        return;
    }
    SiteLogin kept;
    kept.LoginFlag = ChecksumNoteMark;
    kept.Site = QStringList{kTag,
                            note.expected.valid() ? ChecksumText(note.expected) : QString(),
                            Encoded(note.source),
                            QString::number(static_cast<int>(note.outcome)),
                            note.looked ? QStringLiteral("1") : QStringLiteral("0"),
                            Encoded(note.actual),
                            note.sha256}
                    .join(kSeparator);
    items.push_back(kept);
    r.SiteLogins.dimensioned = true;
    r.SiteLogins.lowerBound = 0;
}
