#include "engine/address_change/same_file_check.h"

#include <QFile>
#include <QUrl>

#include "core/download_list/file_identity.h"
#include "core/download_list/part_layout.h"
#include "core/download_list/records.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/assembly/plain_file_name.h"
#include "engine/http/content_range.h"
#include "engine/http/http_requests.h"
#include "engine/http/http_status.h"
#include "engine/http/response_head.h"
#include "engine/session/download_identity.h"
#include "engine/session/failure_words.h"

namespace {

using Outcome = SameFileVerdict::Outcome;

// Two sizes side by side; their exact counts where the rounded ones read the same.
std::pair<QString, QString> TwoSizes(std::int64_t here, std::int64_t there,
                                     const TextTable& texts) {
    if (texts.text(0).isEmpty()) {  // no language loaded: the engine's English
        return {QStringLiteral("%1 bytes").arg(here), QStringLiteral("%1 bytes").arg(there)};
    }
    QString a = FormatSize(Currency::fromBytes(here), texts);
    QString b = FormatSize(Currency::fromBytes(there), texts);
    if (a == b) {
        a += QStringLiteral(" (%1)").arg(here);
        b += QStringLiteral(" (%1)").arg(there);
    }
    return {a, b};
}

// The bytes a download holds at the end of its best-filled segment: where they lie in the file
// and what they are. None (first > last) when it holds nothing, or nothing that can be read.
struct OnDisk {
    std::int64_t first = 0;
    std::int64_t last = -1;
    QByteArray bytes;
};

OnDisk LastReceivedBytes(const DownloadRecord& entry, std::int64_t size) {
    OnDisk found;
    if (size <= 0) {
        return found;  // without a size there are no ranges, and a resume starts over
    }
    const SegmentRecord* best = nullptr;
    for (const SegmentRecord& s : entry.Segments.items) {
        if (s.Length.bytes() > 0 && StoredBytes(s) > 0 &&
            (best == nullptr || StoredBytes(s) > StoredBytes(*best))) {
            best = &s;
        }
    }
    if (best == nullptr) {
        return found;
    }
    const std::int64_t stored = StoredBytes(*best);
    const std::int64_t length = std::min(stored, SameFileCheck::CompareBytes);
    QFile file(best->PartFile);
    if (!file.open(QIODevice::ReadOnly) ||
        !file.seek(RangeOffsetInFile(entry, *best) + stored - length)) {
        return found;
    }
    found.bytes = file.read(length);
    if (found.bytes.size() != length) {
        return {};
    }
    found.first = best->EndPos.bytes() - best->Length.bytes() + 1 + stored - length;
    found.last = found.first + length - 1;
    return found;
}

}  // namespace

QString VerdictWords(const SameFileVerdict& v, const TextTable& texts) {
    switch (v.outcome) {
        case Outcome::Same:
            return {};
        case Outcome::OtherName:
            return Worded(texts, 1349, QStringLiteral("the new address names another file: %1"))
                .arg(v.serverName);
        case Outcome::OtherSize: {
            const auto [here, there] = TwoSizes(v.here, v.there, texts);
            return Worded(texts, 1344, QStringLiteral("another size: %1 here, %2 there"))
                .arg(here, there);
        }
        case Outcome::OtherVersion:
            return Worded(texts, 1345,
                          QStringLiteral("another version of the file: ETag %1 here, %2 there"))
                .arg(v.etagHere, v.etagThere);
        case Outcome::OtherBytes:
            return Worded(texts, 1346, QStringLiteral("other bytes at byte %1: another file"))
                .arg(v.here);
        case Outcome::WebPage:
            return Worded(texts, 1347,
                          QStringLiteral("the new address gives a web page, not the file"));
        case Outcome::NoRanges:
            return Worded(texts, 1348,
                          QStringLiteral("the new address does not serve parts of the file"));
        case Outcome::Refused:
        case Outcome::Unreachable:
        case Outcome::Unusable:
            break;
    }
    return Worded(texts, 1350, QStringLiteral("the new address could not be checked: %1"))
        .arg(v.detail);
}

QString VerdictWords(const SameFileVerdict& verdict) {
    static const TextTable kNoLanguage;
    return VerdictWords(verdict, kNoLanguage);
}

SameFileCheck::SameFileCheck(VelmoraSockets& sockets, const Settings& settings, QObject* parent,
                             ProxyResolver* resolver)
    : QObject(parent), request_(sockets, settings, nullptr, resolver) {
    connect(&request_, &OneShotRequest::answered, this, &SameFileCheck::onAnswered);
    connect(&request_, &OneShotRequest::failed, this, &SameFileCheck::onFailed);
}

void SameFileCheck::Start(const DownloadRecord& entry, const QString& newUrl, const QString& cookie,
                          bool nameMustMatch) {
    request_.Abort();
    url_ = EncodeUrl(newUrl);
    cookie_ = cookie;
    entryName_ = DecodeUrl(entry.FileName);
    nameMustMatch_ = nameMustMatch;
    const FileIdentity identity = ReadIdentity(entry);
    size_ = identity.size >= 0           ? identity.size
            : entry.FileSize.bytes() > 0 ? entry.FileSize.bytes()
                                         : -1;
    etag_ = identity.etag;
    OnDisk onDisk = LastReceivedBytes(entry, size_);
    first_ = onDisk.first;
    last_ = onDisk.last;
    onDisk_ = std::move(onDisk.bytes);
    redirects_ = 0;
    ask();
}

void SameFileCheck::Abort() {
    request_.Abort();
}

void SameFileCheck::ask() {
    pending_ = SameFileVerdict{};
    pending_.finalUrl = url_;
    redirectTo_.clear();
    const ParsedUrl parsed = ParseUrl(url_);
    // Nothing received asks for the first byte: the answer's range names the total size.
    const std::int64_t first = first_ <= last_ ? first_ : 0;
    const std::int64_t last = first_ <= last_ ? last_ : 0;
    OneShotRequest::Request request;
    request.protocol = parsed.protocol;
    request.host = parsed.host;
    request.port = parsed.port;
    request.url = url_;
    request.what = QStringLiteral("address check");
    request.shown =
        UrlForDisplay(DecodeUrl(url_)) + QStringLiteral(" bytes=%1-%2").arg(first).arg(last);
    // The browser's cookies go only to the address they came with, not where it redirects.
    const QString cookie = redirects_ == 0 ? cookie_ : QString();
    request.lines = [parsed, url = url_, cookie, first, last](bool throughProxy) {
        HttpRequestTarget target{
            parsed.host,     parsed.path, url,          parsed.user,
            parsed.password, QString(),   throughProxy, parsed.protocol == Protocol::Https,
            parsed.port,     cookie};
        return SegmentRequest(target, first, last);
    };
    request.bound = {last - first + 1, true};
    request.headCheck = [this](const QByteArray& head) { return checkHead(head); };
    request.wait = wait_;
    request.waitIsIdle = true;
    if (parsed.status != UrlValid ||
        (parsed.protocol != Protocol::Http && parsed.protocol != Protocol::Https)) {
        pending_.outcome = Outcome::Unusable;
        pending_.detail = QStringLiteral("not an http:// or https:// address");
        request_.Refuse(std::move(request), pending_.detail);
        return;
    }
    request_.Start(std::move(request));
}

QString SameFileCheck::checkHead(const QByteArray& headBytes) {
    const ResponseHead head = ParseResponseHead(headBytes);
    SameFileVerdict& v = pending_;
    v.detail = StatusLineOf(headBytes);
    if (HttpStatus::IsRedirect(head.status) && !head.location.isEmpty()) {
        const QUrl base(DecodeUrl(url_));
        redirectTo_ = base.resolved(QUrl(head.location))
                          .adjusted(QUrl::RemoveFragment)
                          .toString(QUrl::FullyEncoded);
        return v.detail;
    }
    v.serverName = !head.fileName.isEmpty() ? PlainFileName(head.fileName)
                                            : DecodeUrl(ParseUrl(url_).fileName);
    if (WebPageAnswer(head) && !PageExpected(FileIdentity{}, entryName_)) {
        v.outcome = Outcome::WebPage;
        return v.detail;
    }
    if (head.status == HttpStatus::Ok) {
        v.outcome = Outcome::NoRanges;
        return v.detail;
    }
    const std::optional<ContentRange> range = FindContentRange(headBytes);
    if (head.status == HttpStatus::RangeNotSatisfiable && range && size_ >= 0 &&
        range->total != size_) {
        v.outcome = Outcome::OtherSize;
        v.here = size_;
        v.there = range->total;
        return v.detail;
    }
    if (head.status != HttpStatus::PartialContent || !range) {
        v.outcome = Outcome::Refused;
        return v.detail;
    }
    if (size_ >= 0 && range->total != size_) {
        v.outcome = Outcome::OtherSize;
        v.here = size_;
        v.there = range->total;
        return v.detail;
    }
    if (!etag_.isEmpty() && !head.etag.isEmpty() && etag_ != head.etag) {
        v.outcome = Outcome::OtherVersion;
        v.etagHere = etag_;
        v.etagThere = head.etag;
        return v.detail;
    }
    if (nameMustMatch_ && v.serverName != entryName_) {
        v.outcome = Outcome::OtherName;
        return v.detail;
    }
    const std::int64_t first = first_ <= last_ ? first_ : 0;
    const std::int64_t last = first_ <= last_ ? last_ : 0;
    if (range->first != first || range->last != last || head.chunked) {
        v.outcome = Outcome::Refused;
        v.detail = QStringLiteral("asked bytes %1-%2, the server sent %3-%4")
                       .arg(first)
                       .arg(last)
                       .arg(range->first)
                       .arg(range->last);
        return v.detail;
    }
    v.outcome = Outcome::Same;
    return {};
}

void SameFileCheck::onAnswered(int, const QByteArray& body, const QByteArray&) {
    SameFileVerdict verdict = pending_;
    if (first_ <= last_) {
        const qsizetype length = qMin(body.size(), onDisk_.size());
        qsizetype at = 0;
        while (at < length && body[at] == onDisk_[at]) {
            ++at;
        }
        if (body.size() != onDisk_.size() && at == length) {
            verdict.outcome = Outcome::Unreachable;
            verdict.detail = QStringLiteral("the connection closed after %1 of %2 bytes")
                                 .arg(body.size())
                                 .arg(onDisk_.size());
        } else if (at < length) {
            verdict.outcome = Outcome::OtherBytes;
            verdict.here = first_ + at;
        }
    }
    emit finished(verdict);
}

void SameFileCheck::onFailed(const OneShotFailure& failure) {
    if (!redirectTo_.isEmpty()) {
        if (++redirects_ > MaxRedirects) {
            SameFileVerdict verdict = pending_;
            verdict.outcome = Outcome::Refused;
            verdict.detail = QStringLiteral("more than %1 redirects").arg(MaxRedirects);
            emit finished(verdict);
            return;
        }
        url_ = EncodeUrl(redirectTo_);
        ask();
        return;
    }
    SameFileVerdict verdict = pending_;
    if (failure.kind != OneShotFailure::Kind::Refused) {
        verdict.outcome = Outcome::Unreachable;
        verdict.detail = failure.why;
    }
    emit finished(verdict);
}
