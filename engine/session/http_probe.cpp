#include "engine/session/http_probe.h"

#include <QPointer>
#include <QUrl>
#include <limits>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/file_identity.h"
#include "core/download_list/site_logins.h"
#include "core/settings/settings.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/assembly/plain_file_name.h"
#include "engine/checksum/digest_headers.h"
#include "engine/http/content_range.h"
#include "engine/http/head_end.h"
#include "engine/http/http_requests.h"
#include "engine/http/http_status.h"
#include "engine/http/redirect_login.h"
#include "engine/http/response_head.h"
#include "engine/session/busy_wait.h"
#include "engine/session/download_identity.h"
#include "engine/session/failure_words.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"
#include "engine/session/zip_preview_rule.h"
#include "net/socket_class.h"

void HttpProbe::sendRequest(SocketClass& socket) {
    DownloadRecord* r = core_.record();
    HttpRequestTarget target = core_.requestTarget(*r);
    target.ifRange = resumedIfRange();
    core_.connections.probe().incoming.proxyLoginSent = !target.proxyAuthorization.isEmpty();
    const bool login = !target.user.isEmpty() && !target.password.isEmpty();
    qCInfo(lcEngine).noquote().nospace()
        << ProbeTag(core_.recordIndex) << " GET " << UrlForDisplay(DecodeUrl(r->Url))
        << " range bytes=0-" << (target.proxyHttp ? " through the proxy" : "")
        << (login ? " with a login" : "")
        << (target.proxyAuthorization.isEmpty() ? "" : " with the proxy's login")
        << (target.cookie.isEmpty() ? "" : " with the browser's cookies");
    socket.SendData(ProbeRequest(target));
    r->LastTick = MillisecondTick();
}

void HttpProbe::takeData(SocketClass& socket) {
    Incoming& in = core_.connections.probe().incoming;
    in.head += socket.GetData();
    qsizetype bodyStart = 0;
    const qsizetype end = FindHeadEnd(in.head, bodyStart);
    if (end < 0) {
        if (in.head.size() > MaxHttpHeadBytes) {
            session_.endProbe();
            if (DownloadRecord* r = core_.record()) {
                MarkFailed(*r, FailureCode::None);
            }
            session_.closeWith(
                QStringLiteral("the server's answer has no end of its header within 64 KiB"));
        }
        return;
    }
    const QByteArray head = in.head.left(end + 2);
    session_.endProbe();
    headComplete(head);
}

void HttpProbe::headComplete(const QByteArray& headBytes) {
    DownloadRecord* r = core_.record();
    if (r == nullptr) {
        return;
    }
    const ResponseHead head = ParseResponseHead(headBytes);
    qCInfo(lcEngine).noquote().nospace()
        << ProbeTag(core_.recordIndex) << " status " << head.status << ", length "
        << (head.hasContentLength ? QString::number(head.contentLength) : QStringLiteral("none"))
        << (head.chunked ? ", chunked" : "") << ", type " << head.contentType;
    r->RangesSupported = head.status == HttpStatus::PartialContent ? FlagTrue : FlagFalse;
    if (head.status < 100) {
        // Not an HTTP answer at all: count it as a failed attempt.
        session_.failProbeAttempt(QLatin1String(SessionReason::NotHttp));
        return;
    }
    if (head.badHeaderLine) {
        session_.failProbeAttempt(QLatin1String(SessionReason::BadHeaderLine));
        return;
    }
    if (HttpStatus::IsRedirect(head.status)) {
        session_.stopProbeTimer();
        followRedirect(head);
        return;
    }
    if (askedForLogin(head.status)) {
        return;
    }
    if (Busy::TransientStatus(head.status)) {
        session_.probeBusy(Busy::RetryAfterMs(headBytes, QDateTime::currentDateTimeUtc()),
                           HttpFailureCode(head.status));
        return;
    }
    if (head.status == HttpStatus::RangeNotSatisfiable) {
        emptyFile_ = true;
    } else if (HttpStatus::IsError(head.status)) {
        session_.stopProbeTimer();
        const QString message = HttpStatus::IsClientError(head.status)
                                    ? core_.text(531) + u' ' + r->UrlPath + u' ' + core_.text(530)
                                    : core_.text(535) + QString::number(head.status) + u')';
        core_.ctx.prompts.showMessage(message, SessionPrompts::Icon::Critical);
        // The entry stays, with its address and what it received: the user may correct the
        // address or try again once the server serves the file.
        const std::int16_t code = HttpFailureCode(head.status);
        MarkFailed(*r, code);
        session_.closeWith(FailureWords(code));
        return;
    }
    session_.stopProbeTimer();
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

bool HttpProbe::askedForLogin(int status) {
    DownloadRecord* r = core_.record();
    if (status == HttpStatus::Unauthorized) {
        session_.stopProbeTimer();
        // A remembered login goes only to an origin that asks for one, once, and fills in only
        // what the user has not typed; never for a plain address an https one sent us to (the
        // Referer keeps that across a pause).
        if (!triedRememberedLogin_ && r->Password.isEmpty() &&
            RememberedLoginAllowed(r->Protocol, r->Referer, leftTls_) &&
            ApplySiteLogin(core_.ctx.list, core_.recordIndex)) {
            triedRememberedLogin_ = true;
            session_.probeAgain();
            return true;
        }
        askCredentials();
        return true;
    }
    if (status != HttpStatus::ProxyAuthenticationRequired) {
        return false;
    }
    session_.stopProbeTimer();
    const QString refused = core_.proxyAsksLogin(core_.connections.probe().incoming.proxyLoginSent);
    if (refused.isEmpty()) {
        session_.probeAgain();
    } else {
        fail(refused);
    }
    return true;
}

bool HttpProbe::fileSize(const ResponseHead& head, const QByteArray& headBytes,
                         std::int64_t& size) {
    size = emptyFile_ ? 0 : head.hasContentLength && !head.chunked ? head.contentLength : -1;
    if (head.status != HttpStatus::PartialContent) {
        return true;
    }
    // The answer's own length is only the part it carries (a server may cap it): the file's
    // size is the total its range names.
    const auto range = FindContentRange(headBytes);
    const QString refused = RangeRefusal(range, 0, -1, -1, true);
    if (!refused.isEmpty()) {
        session_.failProbeAttempt(refused);
        return false;
    }
    constexpr std::int64_t MaxSize = std::numeric_limits<std::int64_t>::max() / Currency::Scale;
    size = range->total <= MaxSize ? range->total : -1;
    if (size < 0) {
        // No size to lay ranges out in: the file comes whole, ended by the close.
        core_.record()->RangesSupported = FlagFalse;
    }
    return true;
}

void HttpProbe::fail(const QString& why, const QString& logged) {
    DownloadRecord* r = core_.record();
    core_.ctx.prompts.showMessage(why, SessionPrompts::Icon::Critical);
    MarkFailed(*r, FailureCodeFor(why));
    session_.closeWith(why, logged);
}

void HttpProbe::followRedirect(const ResponseHead& head) {
    DownloadRecord* r = core_.record();
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
        << ProbeTag(core_.recordIndex) << " redirect " << redirects_ << " to "
        << UrlForDisplay(DecodeUrl(encoded))
        << (dropLogin ? " (another origin: the login is dropped)" : "");
    r->Referer = RefererAfterRedirect(from, r->UrlPath, to);
    r->UrlPath = parsed.path;
    // Bytes received keep their name: an expired link's redirect to a login page must not
    // rename the download after that page.
    if (!(ResumingFromPlan(*r) && r->SegmentCount >= 1)) {
        r->FileName = parsed.fileName;
    }
    r->HostName = parsed.host;
    r->Port = parsed.port;
    r->Protocol = parsed.protocol;
    r->Url = encoded;
    if (dropLogin) {
        // Credentials belong to the host, and the secure connection, they were given for.
        r->UserName = parsed.protocol == Protocol::Ftp ? parsed.user : QString();
        r->Password = parsed.protocol == Protocol::Ftp ? parsed.password : QString();
    }
    session_.probeAgain();
}

void HttpProbe::askCredentials() {
    DownloadRecord* r = core_.record();
    const QString caption = (!r->UserName.isEmpty() || !r->Password.isEmpty())
                                ? QStringLiteral("Bad username/password !")
                                : QStringLiteral("Username/Password required");
    qCInfo(lcEngine).noquote() << ProbeTag(core_.recordIndex) << "asking for a login:" << caption;
    QPointer<QObject> alive(&core_.lifetime());
    EngineContext& engine = core_.ctx;
    engine.prompts.askCredentials(caption, r->Url, r->UserName, r->Password,
                                  [alive, this](const SessionPrompts::Credentials& answer) {
                                      if (!alive) {
                                          return;
                                      }
                                      DownloadRecord* r = core_.record();
                                      if (r == nullptr) {
                                          return;
                                      }
                                      keepPassword_ = answer.keepPassword;
                                      // Paused while the question waited: the resume asks the
                                      // server again.
                                      if (HeldByPause(*r)) {
                                          return;
                                      }
                                      if (answer.ok) {
                                          r->UserName = answer.user;
                                          r->Password = answer.password;
                                          session_.probeAgain();
                                          return;
                                      }
                                      MarkPaused(*r);
                                      session_.closeWith(QLatin1String(SessionReason::NeedsLogin));
                                  });
}

void HttpProbe::succeeded(const ResponseHead& head, std::int64_t size) {
    DownloadRecord* r = core_.record();
    if (!keepsIdentity(head, size)) {
        return;
    }
    if (!head.fileName.isEmpty()) {
        r->FileName = PlainFileName(head.fileName);
    }
    if (core_.ctx.settings.ChecksumLookups != FlagFalse) {
        NoteHeaderChecksum(*r, head);
    }
    MarkRunning(*r);
    // Without a length, or with a chunked body, the size is learnt when the body ends.
    core_.probeGaveSize = size >= 0;
    core_.serverModified = head.lastModified;
    r->FileSize = Currency::fromBytes(std::max<std::int64_t>(size, 0));
    core_.observer.entryChanged(core_.recordIndex);

    if (head.contentType == u"text/html") {
        QPointer<QObject> alive(&core_.lifetime());
        const QString url = r->Url;
        core_.ctx.prompts.askYesNo(core_.text(536), [alive, this, url](bool yes) {
            if (!alive) {
                return;
            }
            if (yes && core_.ctx.openUrl) {
                core_.ctx.openUrl(DecodeUrl(url));
            }
            if (DownloadRecord* r = core_.record()) {
                MarkFailed(*r, FailureCode::WebPage);
            }
            session_.closeWith(QLatin1String(SessionReason::WebPage));
        });
        return;
    }
    if (!r->UserName.isEmpty() && !r->Password.isEmpty() && keepPassword_) {
        const QString site = SiteLoginKey({r->Protocol, r->HostName, r->Port});
        if (SaveSiteLogin(core_.ctx.list, core_.ctx.listPath, site, r->UserName, r->Password) ==
            SaveLoginResult::PasswordNotStorable) {
            core_.ctx.prompts.showMessage(
                QStringLiteral(
                    "The password cannot be remembered; it is used for this download only."),
                SessionPrompts::Icon::Warning);
        }
    }
    if (OffersZipPreview(*r, core_.ctx.settings, core_.probeGaveSize) &&
        core_.observer.zipPreviewWanted()) {
        qCInfo(lcEngine).noquote() << DownloadTag(core_.recordIndex) << "waits in the ZIP preview";
        session_.waitForPreview();
        return;
    }
    core_.observer.stateLabelChanged(core_.text(537));
    session_.startSegments();
}

QByteArray HttpProbe::resumedIfRange() const {
    const DownloadRecord* r = core_.record();
    const bool resumed = ResumingFromPlan(*r) && r->SegmentCount >= 1;
    return resumed ? IfRangeValue(ReadIdentity(*r)) : QByteArray();
}

bool HttpProbe::keepsIdentity(const ResponseHead& head, std::int64_t size) {
    DownloadRecord* r = core_.record();
    const FileIdentity was = ReadIdentity(*r);
    FileIdentity now = IdentityOf(head, size);
    now.noRestart = was.noRestart;
    if (!(ResumingFromPlan(*r) && r->SegmentCount >= 1)) {
        KeepIdentity(*r, now);  // a new download: this is the version it fetches
        return true;
    }
    if (WebPageAnswer(head) && !PageExpected(was, r->FileName)) {
        session_.failWith(QLatin1String(SessionReason::NowWebPage));
        return false;
    }
    if (!was.known()) {
        KeepIdentity(*r, now);  // kept by an older version: resumed as it always was
        return true;
    }
    if (ProbeShowsChange(was, now)) {
        session_.fileChanged(QStringLiteral("the probe found another version"));
        return false;
    }
    return true;
}
