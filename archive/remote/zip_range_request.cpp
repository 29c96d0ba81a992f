#include "archive/remote/zip_range_request.h"

#include "core/download_list/records.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/http/content_range.h"
#include "engine/http/http_requests.h"
#include "engine/http/http_status.h"
#include "engine/http/response_head.h"

namespace {

using Reason = RemoteArchiveFailure::Reason;

QString RangeText(qint64 first, qint64 last, qint64 total) {
    return QStringLiteral("%1-%2/%3").arg(first).arg(last).arg(total);
}

}  // namespace

ZipRangeRequest::ZipRangeRequest(VelmoraSockets& sockets, const Settings& settings, QObject* parent,
                                 ProxyResolver* resolver)
    : QObject(parent), request_(sockets, settings, nullptr, resolver) {
    connect(&request_, &OneShotRequest::answered, this,
            [this](int, const QByteArray& body) { onAnswered(body); });
    connect(&request_, &OneShotRequest::failed, this, &ZipRangeRequest::onFailed);
}

void ZipRangeRequest::Start(const RemoteArchive& archive, qint64 first, qint64 length) {
    Start(archive, first, length, {});
}

void ZipRangeRequest::Start(const RemoteArchive& archive, qint64 first, qint64 length, Sink sink) {
    archive_ = archive;
    first_ = first;
    length_ = length;
    received_ = 0;
    toSink_ = static_cast<bool>(sink);
    body_.clear();
    OneShotRequest::Request request;
    request.protocol = archive.protocol;
    request.host = archive.host;
    request.port = archive.port;
    request.what = QStringLiteral("archive range");
    request.shown = UrlForDisplay(DecodeUrl(archive.url)) +
                    QStringLiteral(" bytes=%1-%2").arg(first).arg(first + length);
    request.lines = [archive, first, length](bool throughProxy) {
        HttpRequestTarget target;
        target.host = archive.host;
        target.path = archive.urlPath;
        target.url = archive.url;
        target.proxyHttp = throughProxy;
        target.https = archive.protocol == Protocol::Https;
        target.port = archive.port;
        return ArchiveRangeRequest(target, first, first + length);
    };
    // The extra byte asked for, and anything after it, is not wanted.
    request.bound = {length, true};
    request.headCheck = [this](const QByteArray& head) { return checkHead(head); };
    if (sink) {
        request.sink = [this, sink = std::move(sink)](const char* bytes, qsizetype size) {
            received_ += size;
            return sink(bytes, size);
        };
    }
    request.wait = noAnswerWait_;
    request.waitIsIdle = true;
    if (archive.protocol != Protocol::Http && archive.protocol != Protocol::Https) {
        refuse(std::move(request), Reason::NoRanges,
               QStringLiteral("only http:// and https:// archives are read in parts"));
        return;
    }
    // The range is ours to get right: asking past the end would be answered clamped, short.
    if (first < 0 || length < 0 || first > archive.fileSize - length) {
        refuse(std::move(request), Reason::Damaged,
               QStringLiteral("bytes %1 to %2 lie outside the file of %3 bytes")
                   .arg(first)
                   .arg(first + length)
                   .arg(archive.fileSize));
        return;
    }
    request_.Start(std::move(request));
}

QString ZipRangeRequest::checkHead(const QByteArray& headBytes) {
    const ResponseHead head = ParseResponseHead(headBytes);
    const QString status = StatusLineOf(headBytes);
    if (head.status == HttpStatus::Ok) {
        refusal_ = Reason::NoRanges;
        return status;
    }
    refusal_ = Reason::ServerError;
    if (head.status != HttpStatus::PartialContent) {
        return status;
    }
    refusal_ = Reason::NoRanges;
    const std::optional<ContentRange> range = FindContentRange(headBytes);
    if (!range) {
        return status + QStringLiteral(", without Content-Range");
    }
    refusal_ = Reason::WrongRange;
    const qint64 last = qMin(first_ + length_, archive_.fileSize - 1);
    const bool lengthAgrees =
        !head.hasContentLength || head.contentLength == range->last - range->first + 1;
    // A range in chunks would need its framing undone, and no server sends one: taken as wrong.
    if (range->first != first_ || range->last != last || range->total != archive_.fileSize ||
        !lengthAgrees || head.chunked) {
        QString detail = QStringLiteral("asked %1, the server sent %2")
                             .arg(RangeText(first_, last, archive_.fileSize),
                                  RangeText(range->first, range->last, range->total));
        if (!lengthAgrees) {
            detail += QStringLiteral(" with Content-Length %1").arg(head.contentLength);
        }
        if (head.chunked) {
            detail += QStringLiteral(" in chunks");
        }
        return detail;
    }
    return {};
}

void ZipRangeRequest::onAnswered(const QByteArray& body) {
    const qint64 received = toSink_ ? received_ : body.size();
    // A body without a length ends with the close, which may come early.
    if (received != length_) {
        emit failed(
            {Reason::Connection, QStringLiteral("the connection closed after %1 of %2 bytes")
                                     .arg(received)
                                     .arg(length_)});
        return;
    }
    body_ = body;
    emit finished();
}

void ZipRangeRequest::onFailed(const OneShotFailure& failure) {
    using Kind = OneShotFailure::Kind;
    const Reason reason = failure.kind == Kind::Refused      ? refusal_
                          : failure.kind == Kind::NoAnswer   ? Reason::NoAnswer
                          : failure.kind == Kind::Connection ? Reason::Connection
                                                             : Reason::ServerError;
    emit failed({reason, failure.why});
}

void ZipRangeRequest::refuse(OneShotRequest::Request request, RemoteArchiveFailure::Reason reason,
                             const QString& detail) {
    refusal_ = reason;
    request_.Refuse(std::move(request), detail);
}
