#include "engine/checksum/checksum_lookup.h"

#include <QTimer>
#include <QUrl>
#include <cstring>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/records.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/http/http_requests.h"
#include "engine/http/http_status.h"
#include "engine/http/response_head.h"
#include "engine/session/download_identity.h"

namespace {

// A sums file found through a redirect (a mirror network's) is still the one asked for.
constexpr int MaxRedirects = 5;

}  // namespace

ChecksumLookup::ChecksumLookup(VelmoraSockets& sockets, const Settings& settings,
                               SumsFileCache& cache, QObject* parent, ProxyResolver* resolver)
    : QObject(parent), request_(sockets, settings, nullptr, resolver), cache_(cache) {
    connect(&request_, &OneShotRequest::answered, this, &ChecksumLookup::onAnswered);
    connect(&request_, &OneShotRequest::failed, this, &ChecksumLookup::onFailed);
}

void ChecksumLookup::Start(const DownloadRecord& entry) {
    Abort();
    sources_ = SumsSourcesFor(entry.Url);
    next_ = 0;
    // The address's own name; the entry's (a Content-Disposition name) where it differs.
    const QString url = entry.Url.section(u'?', 0, 0);
    fileName_ = DecodeUrl(url.section(u'/', -1));
    entryName_ = DecodeUrl(entry.FileName);
    cookie_ = entry.Reserved5;
    referer_ = entry.Referer;
    host_ = entry.HostName.toLower();
    user_ = entry.UserName;
    password_ = entry.Password;
    running_ = true;
    // Even an answer from the cache comes from the event loop.
    QTimer::singleShot(0, this, [this, generation = ++generation_] {
        if (running_ && generation == generation_) {
            askNext();
        }
    });
}

void ChecksumLookup::Abort() {
    request_.Abort();
    running_ = false;
}

void ChecksumLookup::askNext() {
    redirects_ = 0;
    // Only from the event loop: after Start's turn, an answer or a failure.
    while (next_ < sources_.size()) {
        const auto cached = cache_.find(sources_[next_].url);
        if (cached == cache_.end()) {
            ask(sources_[next_].url);
            return;
        }
        if (conclude(cached->second)) {
            return;
        }
    }
    running_ = false;
    emit finished(std::nullopt, QString());
}

void ChecksumLookup::ask(const QString& url) {
    redirectTo_.clear();
    body_.clear();
    ++generation_;
    const ParsedUrl parsed = ParseUrl(url);
    // The download's cookies and login go only to its own server.
    const bool ownServer = parsed.host.toLower() == host_;
    OneShotRequest::Request request;
    request.protocol = parsed.protocol;
    request.host = parsed.host;
    request.port = parsed.port;
    request.url = url;
    request.what = QStringLiteral("checksum lookup");
    request.shown = UrlForDisplay(DecodeUrl(url));
    request.lines = [parsed, url, ownServer, this](bool throughProxy) {
        HttpRequestTarget target{parsed.host,
                                 parsed.path,
                                 url,
                                 ownServer ? user_ : parsed.user,
                                 ownServer ? password_ : parsed.password,
                                 referer_,
                                 throughProxy,
                                 parsed.protocol == Protocol::Https,
                                 parsed.port,
                                 ownServer ? cookie_ : QString()};
        return WholeFileRequest(target);
    };
    const qsizetype bound = sources_[next_].sibling ? MaxSiblingBytes : MaxSumsFileBytes;
    request.bound = {bound, false};
    // A server that answers every address with a file sends no text: the first NUL ends it.
    request.sink = [this](const char* bytes, qsizetype length) {
        body_.append(bytes, length);
        if (std::memchr(bytes, 0, std::size_t(length)) == nullptr) {
            return true;
        }
        QTimer::singleShot(0, this, [this, generation = generation_] {
            if (running_ && generation == generation_) {
                take({});
            }
        });
        return false;
    };
    request.headCheck = [this, url, bound](const QByteArray& headBytes) {
        const ResponseHead head = ParseResponseHead(headBytes);
        if (HttpStatus::IsRedirect(head.status) && !head.location.isEmpty()) {
            redirectTo_ = QUrl(DecodeUrl(url))
                              .resolved(QUrl(head.location))
                              .adjusted(QUrl::RemoveFragment)
                              .toString(QUrl::FullyEncoded);
            return QStringLiteral("redirected");
        }
        if (head.status != HttpStatus::Ok || WebPageAnswer(head)) {
            return StatusLineOf(headBytes);
        }
        return head.hasContentLength && head.contentLength > bound
                   ? QStringLiteral("over %1 bytes").arg(bound)
                   : QString();
    };
    request.wait = wait_;
    request.waitIsIdle = true;
    if (parsed.status != UrlValid || parsed.protocol == Protocol::Ftp) {
        request_.Refuse(std::move(request), QStringLiteral("not an http(s) address"));
        return;
    }
    request_.Start(std::move(request));
}

bool ChecksumLookup::conclude(const QByteArray& body) {
    const SumsSource& source = sources_[next_++];
    for (const QString& name : {fileName_, entryName_}) {
        if (const std::optional<Checksum> found = ChecksumInSums(body, name, source.sibling)) {
            running_ = false;
            emit finished(found, source.name);
            return true;
        }
    }
    return false;
}

void ChecksumLookup::take(const QByteArray& body) {
    cache_[sources_[next_].url] = body;
    if (!conclude(body)) {
        askNext();
    }
}

void ChecksumLookup::onAnswered(int, const QByteArray&, const QByteArray&) {
    take(body_);
}

void ChecksumLookup::onFailed(const OneShotFailure& failure) {
    if (!redirectTo_.isEmpty() && ++redirects_ <= MaxRedirects) {
        ask(EncodeUrl(redirectTo_));
        return;
    }
    qCDebug(lcEngine).noquote() << "no checksum at" << UrlForDisplay(DecodeUrl(sources_[next_].url))
                                << failure.why;
    take({});
}
