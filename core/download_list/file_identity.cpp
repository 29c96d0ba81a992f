#include "core/download_list/file_identity.h"

#include <QStringList>
#include <QTimeZone>
#include <QUrl>

#include "core/download_list/records.h"

namespace {

// "id1;SIZE;SECONDS;FLAGS;ETAG": the ETag last and percent-encoded, so that the text stays
// ASCII in any locale's encoding of the list file and no character of it splits the fields.
constexpr QLatin1StringView kTag{"id1"};
constexpr QChar kSeparator = u';';

}  // namespace

FileIdentity ReadIdentity(const DownloadRecord& r) {
    const QStringList fields = r.Reserved2.split(kSeparator);
    FileIdentity identity;
    if (fields.size() != 5 || fields[0] != kTag) {
        return identity;
    }
    bool sizeOk = false;
    bool dateOk = false;
    const std::int64_t size = fields[1].toLongLong(&sizeOk);
    const std::int64_t seconds = fields[2].toLongLong(&dateOk);
    identity.size = sizeOk && size >= 0 ? size : -1;
    if (dateOk && !fields[2].isEmpty()) {
        identity.lastModified = QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
    }
    identity.noRestart = fields[3].contains(u'n');
    identity.page = fields[3].contains(u'p');
    identity.etag = QUrl::fromPercentEncoding(fields[4].toLatin1());
    return identity;
}

void KeepIdentity(DownloadRecord& r, const FileIdentity& identity) {
    if (!identity.known() && !identity.noRestart && !identity.page) {
        r.Reserved2 = QStringLiteral("0");
        return;
    }
    const QString date = identity.lastModified.isValid()
                             ? QString::number(identity.lastModified.toSecsSinceEpoch())
                             : QString();
    r.Reserved2 = QStringList{kTag, QString::number(identity.size), date,
                              QString(identity.noRestart ? QStringLiteral("n") : QString()) +
                                  (identity.page ? QStringLiteral("p") : QString()),
                              QString::fromLatin1(QUrl::toPercentEncoding(identity.etag))}
                      .join(kSeparator);
}
