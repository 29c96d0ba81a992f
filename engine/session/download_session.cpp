#include "engine/session/download_session.h"

#include <QUrl>

#include "core/download_list/download_list.h"
#include "core/download_list/site_logins.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "engine/assembly/plain_file_name.h"
#include "engine/http/head_end.h"
#include "engine/http/http_requests.h"
#include "engine/http/response_head.h"
#include "engine/session/session_prompts.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "net/winsock_errors.h"

DownloadSession::DownloadSession(EngineContext& context, SessionObserver& observer, QObject* parent)
    : QObject(parent), ctx_(context), observer_(observer), slots_(context.sockets, context.files) {
    TimeOut.setInterval(10000);
    SegTimeOut.setInterval(1000);
    connectPacer_.setSingleShot(true);
    connect(&TimeOut, &QTimer::timeout, this, &DownloadSession::TimeOut_Timer);
    connect(&SegTimeOut, &QTimer::timeout, this, &DownloadSession::SegTimeOut_Timer);
}

// The slots close their connections and part files as they go.
DownloadSession::~DownloadSession() = default;

DownloadRecord* DownloadSession::record() {
    return ctx_.list.record(RecordIndex);
}

QString DownloadSession::text(int number) const {
    return ctx_.texts.text(number);
}

bool DownloadSession::isFtp() {
    const DownloadRecord* r = record();
    return r != nullptr && r->Protocol == Protocol::Ftp;
}

HttpRequestTarget DownloadSession::requestTarget(const DownloadRecord& r) const {
    return HttpRequestTarget{r.HostName,
                             r.UrlPath,
                             r.Url,
                             r.UserName,
                             r.Password,
                             r.Referer,
                             ctx_.settings.ProxyHTTP == FlagTrue};
}

void DownloadSession::connectTo(SocketClass& socket) {
    const DownloadRecord* r = ctx_.list.record(RecordIndex);
    if (ctx_.settings.ProxyHTTP == FlagTrue) {
        socket.Connect(ctx_.settings.ProxyServer, ctx_.settings.ProxyPort);
    } else if (r != nullptr) {
        socket.Connect(r->HostName, r->Port);
    }
}

void DownloadSession::closeWith(const QString& why) {
    TimeOut.stop();
    SegTimeOut.stop();
    connectPacer_.stop();
    if (!why.isEmpty()) {
        lastProblem_ = why;
    }
    observer_.entryChanged(RecordIndex);
    observer_.sessionClosed(why);
}

void DownloadSession::endProbe() {
    probeLive_ = false;
    if (SocketClass* probe = sockGlobal()) {
        probe->CloseSocket();
    }
}

void DownloadSession::InitConnection() {
    DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    TimeOut.start();
    // The old probe may be the one whose handler runs now: the slot retires it later.
    ConnectionSlot& probe = slots_.probe();
    SocketClass* socket = &probe.replaceSocket();
    connect(socket, &SocketClass::ConnectEvent, this, &DownloadSession::sockGlobal_Connect);
    connect(socket, &SocketClass::DataReceivedEvent, this,
            &DownloadSession::sockGlobal_DataReceived);
    connect(socket, &SocketClass::ErrorEvent, this, &DownloadSession::sockGlobal_Error);
    connect(socket, &SocketClass::ClosedEvent, this, &DownloadSession::sockGlobal_Closed);
    r->Failed = FlagFalse;
    probe.incoming = Incoming{};
    probe.ftpReplies.reset();
    probe.ftpLogin = FtpLogin::None;
    FtpProbeStep = 0;
    probeLive_ = true;
    if (ctx_.settings.ProxyHTTP == FlagTrue) {
        r->Protocol = Protocol::Http;
    }
    observer_.fileLabelChanged(UrlForDisplay(DecodeUrl(r->Url)));
    observer_.stateLabelChanged(QStringLiteral("Connecting to server..."));
    connectTo(*socket);
}

void DownloadSession::sockGlobal_Connect(SocketClass* socket) {
    if (socket != nullptr) {
        SegmentData_Connect(socket);
        return;
    }
    DownloadRecord* r = record();
    if (r == nullptr || !probeLive_) {
        return;
    }
    observer_.stateLabelChanged(text(524));
    // The time-out now covers the answer too: a server that accepts and stays silent would
    // otherwise hold the download for ever.
    TimeOut.start();
    if (r->Protocol == Protocol::Ftp) {
        r->LastTick = MillisecondTick();  // the dialogue starts with the server's greeting
        return;
    }
    // A remembered login fills in only what the user has not typed, and only for the host the
    // download began with or one it names itself.
    if (r->Password.isEmpty()) {
        ApplySiteLogin(ctx_.list, RecordIndex);
    }
    const HttpRequestTarget target = requestTarget(*r);
    sockGlobal()->SendData(ProbeRequest(target));
    r->LastTick = MillisecondTick();
}

void DownloadSession::sockGlobal_DataReceived(SocketClass* socket, std::int32_t numbytes) {
    ctx_.receivedBytes += numbytes;
    if (socket != nullptr) {
        SegmentData_DataReceived(socket, numbytes);
        return;
    }
    if (!probeLive_) {
        sockGlobal()->GetData();
        return;
    }
    if (isFtp()) {
        ftpProbeData();
        return;
    }
    Incoming& in = slots_.probe().incoming;
    in.head += sockGlobal()->GetData();
    qsizetype bodyStart = 0;
    const qsizetype end = FindHeadEnd(in.head, bodyStart);
    if (end < 0) {
        if (in.head.size() > MaxHeadBytes) {
            endProbe();
            if (DownloadRecord* r = record()) {
                r->Running = FlagFalse;
                r->Failed = FlagTrue;
            }
            closeWith(QStringLiteral("the server's answer has no end of its header within 64 KiB"));
        }
        return;
    }
    const QByteArray head = in.head.left(end + 2);
    endProbe();
    probeHeadComplete(head);
}

void DownloadSession::sockGlobal_Error(SocketClass* socket, std::int32_t errornumber) {
    // Segments that fail are the watchdog's to restart.
    if (socket != nullptr || !probeLive_) {
        return;
    }
    lastProbeError_ = errornumber;
    // Retry from the event loop: the error may be raised inside Connect itself.
    QTimer::singleShot(0, this, &DownloadSession::TimeOut_Timer);
    probeLive_ = false;
    retryPending_ = true;
}

void DownloadSession::sockGlobal_Closed(SocketClass* socket) {
    if (socket != nullptr) {
        const int k = slots_.slotOf(socket);
        if (k >= 0 && slots_[k].incoming.bodyEnd == BodyEnd::AtClose &&
            slots_[k].incoming.headDone) {
            segmentBodyEnded(k);
        } else if (const int dk = slots_.dataSlotOf(socket); dk >= 0) {
            slots_[dk].ftpDataClosed = true;
            ftpDataEnded(dk);
        }
        return;
    }
    // A probe closed before its head ended is a failed attempt.
    if (probeLive_) {
        lastProblem_ = QStringLiteral("the server closed the connection without an answer");
        probeLive_ = false;
        retryPending_ = true;
        QTimer::singleShot(0, this, &DownloadSession::TimeOut_Timer);
    }
}

void DownloadSession::TimeOut_Timer() {
    TimeOut.stop();
    DownloadRecord* r = record();
    const bool probeExists = probeLive_ || retryPending_;
    probeLive_ = false;
    retryPending_ = false;
    if (r == nullptr || r->Active != FlagTrue || !probeExists) {
        return;
    }
    if (SocketClass* probe = sockGlobal()) {
        probe->CloseSocket();
    }
    if (lastProbeError_ == 0 && lastProblem_.isEmpty()) {
        lastProbeError_ = WinSock::TimedOut;
    }
    if (r->RetryCount < 4) {
        ++r->RetryCount;
        InitConnection();
    } else {
        r->Running = FlagFalse;
        r->Completed = FlagFalse;
        r->Failed = FlagTrue;
        closeWith(lastProblem_.isEmpty() ? QStringLiteral("no connection") : lastProblem_);
    }
    observer_.entryChanged(RecordIndex);
}

void DownloadSession::failProbeAttempt(const QString& why) {
    lastProblem_ = why;
    probeLive_ = false;
    retryPending_ = true;
    TimeOut_Timer();
}

void DownloadSession::probeHeadComplete(const QByteArray& headBytes) {
    DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    const ResponseHead head = ParseResponseHead(headBytes);
    r->RangesSupported = head.status == 206 ? FlagTrue : FlagFalse;
    if (head.status < 100) {
        // Not an HTTP answer at all: count it as a failed attempt.
        failProbeAttempt(QStringLiteral("the server's answer is not HTTP"));
        return;
    }
    if (head.status >= 300 && head.status <= 399) {
        TimeOut.stop();
        followRedirect(head);
        return;
    }
    if (head.status == 401) {
        TimeOut.stop();
        askCredentials();
        return;
    }
    if (head.status == 416) {
        // "bytes=0-" cannot be satisfied only by an empty file.
        head416_ = true;
    } else if (head.status >= 400 && head.status <= 599) {
        TimeOut.stop();
        const QString message = head.status <= 499
                                    ? text(531) + u' ' + r->UrlPath + u' ' + text(530)
                                    : text(535) + QString::number(head.status) + u')';
        ctx_.prompts.showMessage(message, SessionPrompts::Icon::Critical);
        r->Active = FlagFalse;
        r->Url.clear();
        r->FileName.clear();
        r->Removed = FlagTrue;
        r->Transferring = FlagFalse;
        r->Running = FlagFalse;
        closeWith(QStringLiteral("HTTP %1: %2").arg(head.status).arg(message));
        return;
    }
    TimeOut.stop();
    probeSucceeded(head);
}

void DownloadSession::followRedirect(const ResponseHead& head) {
    DownloadRecord* r = record();
    auto fail = [&](const QString& why) {
        ctx_.prompts.showMessage(why, SessionPrompts::Icon::Critical);
        r->Running = FlagFalse;
        r->Failed = FlagTrue;
        closeWith(why);
    };
    if (++redirects_ > MaxRedirects) {
        fail(QStringLiteral("too many redirects (more than %1)").arg(MaxRedirects));
        return;
    }
    // A relative location resolves against the address it came from.
    const QUrl base(DecodeUrl(r->Url));
    const QUrl target = base.resolved(QUrl(head.location));
    const QString scheme = target.scheme().toLower();
    if (head.location.isEmpty() || (scheme != u"http" && scheme != u"ftp")) {
        fail(QStringLiteral("the server redirected to an address that is not http:// or ftp://: %1")
                 .arg(head.location));
        return;
    }
    const QString encoded = EncodeUrl(target.toString(QUrl::FullyEncoded));
    const ParsedUrl parsed = ParseUrl(encoded);
    if (parsed.status != 100) {
        fail(QStringLiteral("the server redirected to an address that cannot be used: %1")
                 .arg(head.location));
        return;
    }
    const bool otherHost = parsed.host.compare(r->HostName, Qt::CaseInsensitive) != 0;
    r->Referer = r->Url;
    r->UrlPath = parsed.path;
    r->FileName = parsed.fileName;
    r->HostName = parsed.host;
    r->Port = parsed.port;
    r->Protocol = parsed.protocol;
    r->Url = encoded;
    if (otherHost) {
        // Credentials belong to the host they were given for.
        r->UserName = parsed.protocol == Protocol::Ftp ? parsed.user : QString();
        r->Password = parsed.protocol == Protocol::Ftp ? parsed.password : QString();
    }
    InitConnection();
}

void DownloadSession::askCredentials() {
    DownloadRecord* r = record();
    const QString caption = (!r->UserName.isEmpty() || !r->Password.isEmpty())
                                ? QStringLiteral("Bad username/password !")
                                : QStringLiteral("Username/Password required");
    QPointer<DownloadSession> self(this);
    ctx_.prompts.askCredentials(
        caption, r->Url, r->UserName, r->Password,
        [self](const SessionPrompts::Credentials& answer) {
            if (!self) {
                return;
            }
            DownloadRecord* r = self->record();
            if (r == nullptr) {
                return;
            }
            self->KeepPassword = answer.keepPassword;
            // Paused while the question waited: the resume asks the server again.
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
            self->closeWith(QStringLiteral("the server asks for a user name and password"));
        });
}

void DownloadSession::probeSucceeded(const ResponseHead& head) {
    DownloadRecord* r = record();
    if (!head.fileName.isEmpty()) {
        r->FileName = PlainFileName(head.fileName);
    }
    r->Running = FlagTrue;
    // Without a length, or with a chunked body, the size is learnt when the body ends.
    sizeKnown_ = head416_ || (head.hasContentLength && !head.chunked);
    r->FileSize = Currency::fromBytes(head416_ || !sizeKnown_ ? 0 : head.contentLength);
    observer_.entryChanged(RecordIndex);

    if (head.contentType == u"text/html") {
        QPointer<DownloadSession> self(this);
        const QString url = r->Url;
        ctx_.prompts.askYesNo(text(536), [self, url](bool yes) {
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
            self->closeWith(QStringLiteral("the address is a web page (text/html), not a file"));
        });
        return;
    }
    if (!r->UserName.isEmpty() && !r->Password.isEmpty() && KeepPassword) {
        if (SaveSiteLogin(ctx_.list, ctx_.listPath, r->HostName, r->UserName, r->Password) ==
            SaveLoginResult::PasswordNotStorable) {
            ctx_.prompts.showMessage(
                QStringLiteral(
                    "The password cannot be remembered; it is used for this download only."),
                SessionPrompts::Icon::Warning);
        }
    }
    observer_.stateLabelChanged(text(537));
    ConnectSegmented();
}
