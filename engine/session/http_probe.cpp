#include "engine/session/http_probe.h"

#include <QPointer>
#include <QUrl>
#include <limits>

#include "core/download_list/download_list.h"
#include "core/download_list/site_logins.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/assembly/plain_file_name.h"
#include "engine/http/content_range.h"
#include "engine/http/head_end.h"
#include "engine/http/http_requests.h"
#include "engine/http/http_status.h"
#include "engine/http/redirect_login.h"
#include "engine/http/response_head.h"
#include "engine/session/download_session.h"
#include "engine/session/failure_words.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"
#include "engine/session/zip_preview_rule.h"
#include "net/socket_class.h"

void HttpProbe::sendRequest(SocketClass& socket) {
    DownloadSession& s = session_;
    DownloadRecord* r = s.record();
    const HttpRequestTarget target = s.requestTarget(*r);
    const bool login = !target.user.isEmpty() && !target.password.isEmpty();
    qCInfo(lcEngine).noquote().nospace()
        << ProbeTag(s.RecordIndex) << " GET " << UrlForDisplay(DecodeUrl(r->Url))
        << " range bytes=0-" << (target.proxyHttp ? " through the proxy" : "")
        << (login ? " with a login" : "")
        << (target.cookie.isEmpty() ? "" : " with the browser's cookies");
    socket.SendData(ProbeRequest(target));
    r->LastTick = MillisecondTick();
}

void HttpProbe::takeData(SocketClass& socket) {
    DownloadSession& s = session_;
    Incoming& in = s.slots_.probe().incoming;
    in.head += socket.GetData();
    qsizetype bodyStart = 0;
    const qsizetype end = FindHeadEnd(in.head, bodyStart);
    if (end < 0) {
        if (in.head.size() > MaxHttpHeadBytes) {
            s.endProbe();
            if (DownloadRecord* r = s.record()) {
                r->Running = FlagFalse;
                r->Failed = FlagTrue;
            }
            s.closeWith(
                QStringLiteral("the server's answer has no end of its header within 64 KiB"));
        }
        return;
    }
    const QByteArray head = in.head.left(end + 2);
    s.endProbe();
    headComplete(head);
}

void HttpProbe::headComplete(const QByteArray& headBytes) {
    DownloadSession& s = session_;
    DownloadRecord* r = s.record();
    if (r == nullptr) {
        return;
    }
    const ResponseHead head = ParseResponseHead(headBytes);
    qCInfo(lcEngine).noquote().nospace()
        << ProbeTag(s.RecordIndex) << " status " << head.status << ", length "
        << (head.hasContentLength ? QString::number(head.contentLength) : QStringLiteral("none"))
        << (head.chunked ? ", chunked" : "") << ", type " << head.contentType;
    r->RangesSupported = head.status == HttpStatus::PartialContent ? FlagTrue : FlagFalse;
    if (head.status < 100) {
        // Not an HTTP answer at all: count it as a failed attempt.
        s.failProbeAttempt(QLatin1String(SessionReason::NotHttp));
        return;
    }
    if (head.badHeaderLine) {
        s.failProbeAttempt(QLatin1String(SessionReason::BadHeaderLine));
        return;
    }
    if (HttpStatus::IsRedirect(head.status)) {
        s.TimeOut.stop();
        followRedirect(head);
        return;
    }
    if (head.status == HttpStatus::Unauthorized) {
        s.TimeOut.stop();
        // A remembered login goes only to an origin that asks for one, once, and fills in only
        // what the user has not typed; never for a plain address an https one sent us to (the
        // Referer keeps that across a pause).
        if (!triedRememberedLogin_ && r->Password.isEmpty() &&
            RememberedLoginAllowed(r->Protocol, r->Referer, leftTls_) &&
            ApplySiteLogin(s.ctx_.list, s.RecordIndex)) {
            triedRememberedLogin_ = true;
            s.InitConnection();
            return;
        }
        askCredentials();
        return;
    }
    if (head.status == HttpStatus::RangeNotSatisfiable) {
        emptyFile_ = true;
    } else if (HttpStatus::IsError(head.status)) {
        s.TimeOut.stop();
        const QString message = HttpStatus::IsClientError(head.status)
                                    ? s.text(531) + u' ' + r->UrlPath + u' ' + s.text(530)
                                    : s.text(535) + QString::number(head.status) + u')';
        s.ctx_.prompts.showMessage(message, SessionPrompts::Icon::Critical);
        r->Active = FlagFalse;
        r->Url.clear();
        r->FileName.clear();
        r->Removed = FlagTrue;
        r->Transferring = FlagFalse;
        r->Running = FlagFalse;
        s.closeWith(QStringLiteral("HTTP %1: %2").arg(head.status).arg(message));
        return;
    }
    s.TimeOut.stop();
    const QString compressed = UnaskedEncoding(head);
    if (!compressed.isEmpty() && !emptyFile_) {
        // Its length is the compressed one's, and its bytes are not the file's.
        fail(compressed);
        return;
    }
    std::int64_t size = -1;
    if (fileSize(head, headBytes, size)) {
        succeeded(head, size);
    }
}

bool HttpProbe::fileSize(const ResponseHead& head, const QByteArray& headBytes,
                         std::int64_t& size) {
    DownloadSession& s = session_;
    size = emptyFile_ ? 0 : head.hasContentLength && !head.chunked ? head.contentLength : -1;
    if (head.status != HttpStatus::PartialContent) {
        return true;
    }
    // The answer's own length is only the part it carries (a server may cap it): the file's
    // size is the total its range names.
    const auto range = FindContentRange(headBytes);
    const QString refused = RangeRefusal(range, 0, -1, -1, true);
    if (!refused.isEmpty()) {
        s.failProbeAttempt(refused);
        return false;
    }
    constexpr std::int64_t MaxSize = std::numeric_limits<std::int64_t>::max() / Currency::Scale;
    size = range->total <= MaxSize ? range->total : -1;
    if (size < 0) {
        // No size to lay ranges out in: the file comes whole, ended by the close.
        s.record()->RangesSupported = FlagFalse;
    }
    return true;
}

void HttpProbe::fail(const QString& why, const QString& logged) {
    DownloadSession& s = session_;
    DownloadRecord* r = s.record();
    s.ctx_.prompts.showMessage(why, SessionPrompts::Icon::Critical);
    r->Running = FlagFalse;
    r->Failed = FlagTrue;
    s.closeWith(why, logged);
}

void HttpProbe::followRedirect(const ResponseHead& head) {
    DownloadSession& s = session_;
    DownloadRecord* r = s.record();
    // The message quotes the location as the server gave it; the log shows it without a
    // password.
    if (++redirects_ > MaxRedirects) {
        const QString why = QString::fromLatin1(SessionReason::TooManyRedirects).arg(MaxRedirects);
        fail(why, why);
        return;
    }
    // A relative location resolves against the address it came from.
    const QUrl base(DecodeUrl(r->Url));
    // The fragment is the page's business, never the server's.
    const QUrl target = base.resolved(QUrl(head.location)).adjusted(QUrl::RemoveFragment);
    const QString scheme = target.scheme().toLower();
    if (head.location.isEmpty() || (scheme != u"http" && scheme != u"https" && scheme != u"ftp")) {
        const QString why = QStringLiteral(
            "the server redirected to an address that is not http://, https:// or ftp://: %1");
        fail(why.arg(head.location), why.arg(UrlForDisplay(head.location)));
        return;
    }
    const QString encoded = EncodeUrl(target.toString(QUrl::FullyEncoded));
    const ParsedUrl parsed = ParseUrl(encoded);
    if (parsed.status != UrlValid) {
        const QString why =
            QStringLiteral("the server redirected to an address that cannot be used: %1");
        fail(why.arg(head.location), why.arg(UrlForDisplay(head.location)));
        return;
    }
    const UrlOrigin from{r->Protocol, r->HostName, r->Port};
    const UrlOrigin to = OriginOf(parsed);
    const bool leavesTls = r->Protocol == Protocol::Https && parsed.protocol != Protocol::Https;
    const bool dropLogin = !LoginFollowsRedirect(from, to);
    if (parsed.protocol == Protocol::Https) {
        leftTls_ = false;
    } else if (leavesTls) {
        leftTls_ = true;
    }
    qCInfo(lcEngine).noquote().nospace()
        << ProbeTag(s.RecordIndex) << " redirect " << redirects_ << " to "
        << UrlForDisplay(DecodeUrl(encoded))
        << (dropLogin ? " (another origin: the login is dropped)" : "");
    r->Referer = RefererAfterRedirect(from, r->UrlPath, to);
    r->UrlPath = parsed.path;
    r->FileName = parsed.fileName;
    r->HostName = parsed.host;
    r->Port = parsed.port;
    r->Protocol = parsed.protocol;
    r->Url = encoded;
    if (dropLogin) {
        // Credentials belong to the host, and the secure connection, they were given for.
        r->UserName = parsed.protocol == Protocol::Ftp ? parsed.user : QString();
        r->Password = parsed.protocol == Protocol::Ftp ? parsed.password : QString();
    }
    s.InitConnection();
}

void HttpProbe::askCredentials() {
    DownloadSession& s = session_;
    DownloadRecord* r = s.record();
    const QString caption = (!r->UserName.isEmpty() || !r->Password.isEmpty())
                                ? QStringLiteral("Bad username/password !")
                                : QStringLiteral("Username/Password required");
    qCInfo(lcEngine).noquote() << ProbeTag(s.RecordIndex) << "asking for a login:" << caption;
    QPointer<DownloadSession> self(&s);
    s.ctx_.prompts.askCredentials(caption, r->Url, r->UserName, r->Password,
                                  [self, this](const SessionPrompts::Credentials& answer) {
                                      if (!self) {
                                          return;
                                      }
                                      DownloadRecord* r = self->record();
                                      if (r == nullptr) {
                                          return;
                                      }
                                      keepPassword_ = answer.keepPassword;
                                      // Paused while the question waited: the resume asks the
                                      // server again.
                                      if (r->Paused == FlagTrue) {
                                          return;
                                      }
                                      if (answer.ok) {
                                          r->UserName = answer.user;
                                          r->Password = answer.password;
                                          self->InitConnection();
                                          return;
                                      }
                                      r->Running = FlagFalse;
                                      r->Completed = FlagFalse;
                                      r->Paused = FlagTrue;
                                      self->closeWith(QLatin1String(SessionReason::NeedsLogin));
                                  });
}

void HttpProbe::succeeded(const ResponseHead& head, std::int64_t size) {
    DownloadSession& s = session_;
    DownloadRecord* r = s.record();
    if (!head.fileName.isEmpty()) {
        r->FileName = PlainFileName(head.fileName);
    }
    r->Running = FlagTrue;
    // Without a length, or with a chunked body, the size is learnt when the body ends.
    s.sizeKnown_ = size >= 0;
    s.serverModified_ = head.lastModified;
    r->FileSize = Currency::fromBytes(std::max<std::int64_t>(size, 0));
    s.observer_.entryChanged(s.RecordIndex);

    if (head.contentType == u"text/html") {
        QPointer<DownloadSession> self(&s);
        const QString url = r->Url;
        s.ctx_.prompts.askYesNo(s.text(536), [self, url](bool yes) {
            if (!self) {
                return;
            }
            if (yes && self->ctx_.openUrl) {
                self->ctx_.openUrl(DecodeUrl(url));
            }
            if (DownloadRecord* r = self->record()) {
                r->Active = FlagFalse;
                r->Url.clear();
                r->Removed = FlagTrue;
                r->Transferring = FlagFalse;
                r->Running = FlagFalse;
            }
            self->closeWith(QLatin1String(SessionReason::WebPage));
        });
        return;
    }
    if (!r->UserName.isEmpty() && !r->Password.isEmpty() && keepPassword_) {
        const QString site = SiteLoginKey({r->Protocol, r->HostName, r->Port});
        if (SaveSiteLogin(s.ctx_.list, s.ctx_.listPath, site, r->UserName, r->Password) ==
            SaveLoginResult::PasswordNotStorable) {
            s.ctx_.prompts.showMessage(
                QStringLiteral(
                    "The password cannot be remembered; it is used for this download only."),
                SessionPrompts::Icon::Warning);
        }
    }
    if (OffersZipPreview(*r, s.ctx_.settings, s.sizeKnown_) && s.observer_.zipPreviewWanted()) {
        qCInfo(lcEngine).noquote() << DownloadTag(s.RecordIndex) << "waits in the ZIP preview";
        s.waitingForPreview_ = true;
        return;
    }
    s.observer_.stateLabelChanged(s.text(537));
    s.ConnectSegmented();
}
