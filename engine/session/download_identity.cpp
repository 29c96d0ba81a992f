#include "engine/session/download_identity.h"

#include <QLocale>
#include <QTimeZone>

#include "engine/http/content_range.h"
#include "engine/http/http_status.h"
#include "engine/http/response_head.h"

FileIdentity IdentityOf(const ResponseHead& head, std::int64_t size) {
    FileIdentity identity;
    identity.etag = head.etag;
    identity.lastModified = head.lastModified;
    identity.size = size >= 0 ? size : -1;
    identity.page = WebPageAnswer(head);
    return identity;
}

QByteArray IfRangeValue(const FileIdentity& identity) {
    if (!identity.etag.isEmpty()) {
        return identity.etag.toLatin1();
    }
    if (!identity.lastModified.isValid()) {
        return {};
    }
    return QLocale::c()
        .toString(identity.lastModified.toTimeZone(QTimeZone::utc()),
                  QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
        .toLatin1();
}

bool ProbeShowsChange(const FileIdentity& was, const FileIdentity& now) {
    if (was.size >= 0 && now.size >= 0 && was.size != now.size) {
        return true;
    }
    if (!was.etag.isEmpty()) {
        return now.etag != was.etag;
    }
    return now.etag.isEmpty() && was.lastModified.isValid() && now.lastModified.isValid() &&
           was.lastModified != now.lastModified;
}

bool WebPageAnswer(const ResponseHead& head) {
    return head.contentType.startsWith(QStringLiteral("text/html"), Qt::CaseInsensitive);
}

bool PageExpected(const FileIdentity& identity, const QString& fileName) {
    return identity.page || fileName.endsWith(QStringLiteral(".html"), Qt::CaseInsensitive) ||
           fileName.endsWith(QStringLiteral(".htm"), Qt::CaseInsensitive) ||
           fileName.endsWith(QStringLiteral(".xhtml"), Qt::CaseInsensitive);
}

SegmentVerdict JudgeSegmentAnswer(const ResponseHead& head, const QByteArray& headBytes,
                                  bool ifRangeSent, std::int64_t recordedSize, bool pageExpected) {
    const bool whole = head.status == HttpStatus::Ok;
    if (!whole && head.status != HttpStatus::PartialContent) {
        return SegmentVerdict::Same;
    }
    // An expired link or a login page, where the file's bytes were due.
    if (WebPageAnswer(head) && !pageExpected) {
        return SegmentVerdict::WebPage;
    }
    if (whole) {
        // The server found our validator stale: the whole body is the new version's.
        return ifRangeSent ? SegmentVerdict::Changed : SegmentVerdict::Same;
    }
    const auto range = FindContentRange(headBytes);
    return range && range->total >= 0 && recordedSize >= 0 && range->total != recordedSize
               ? SegmentVerdict::Changed
               : SegmentVerdict::Same;
}
