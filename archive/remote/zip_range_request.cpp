#include "archive/remote/zip_range_request.h"

#include "core/diagnostics/log_categories.h"
#include "core/download_list/records.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/http/content_range.h"
#include "engine/http/head_end.h"
#include "engine/http/http_requests.h"
#include "engine/http/http_status.h"
#include "engine/http/response_head.h"
#include "engine/session/http_probe.h"
#include "engine/session/server_route.h"
#include "net/socket_class.h"
#include "net/winsock_errors.h"

namespace {

using Reason = RemoteArchiveFailure::Reason;

// The answer's first line, for the user: what the server said, not what it sent after it.
QString StatusLine(const QByteArray& head) {
    const qsizetype end = head.indexOf('\n');
    QByteArray line = (end < 0 ? head : head.left(end)).trimmed().left(200);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return QString::fromLatin1(line);
}

QString RangeText(qint64 first, qint64 last, qint64 total) {
    return QStringLiteral("%1-%2/%3").arg(first).arg(last).arg(total);
}

}  // namespace

ZipRangeRequest::ZipRangeRequest(VelmoraSockets& sockets, const Settings& settings, QObject* parent)
    : QObject(parent), sockets_(sockets), settings_(settings) {
    noAnswer_.setSingleShot(true);
    connect(&noAnswer_, &QTimer::timeout, this, &ZipRangeRequest::onNoAnswer);
}

// Never inside one of the socket's handlers: nothing outside this object runs there.
ZipRangeRequest::~ZipRangeRequest() = default;

void ZipRangeRequest::Start(const RemoteArchive& archive, qint64 first, qint64 length) {
    begin(archive, first, length, {});
}

void ZipRangeRequest::Start(const RemoteArchive& archive, qint64 first, qint64 length, Sink sink) {
    begin(archive, first, length, std::move(sink));
}

void ZipRangeRequest::Abort() {
    ++generation_;
    dropConnection();
    stage_ = Stage::Idle;
}

void ZipRangeRequest::begin(const RemoteArchive& archive, qint64 first, qint64 length, Sink sink) {
    Abort();
    socket_.reset();  // not inside its handler: Start is never called from one
    archive_ = archive;
    first_ = first;
    length_ = length;
    received_ = 0;
    sink_ = std::move(sink);
    head_.clear();
    body_.clear();
    if (archive.protocol != Protocol::Http && archive.protocol != Protocol::Https) {
        fail(Reason::NoRanges, QStringLiteral("only http:// and https:// archives are read in "
                                              "parts"));
        return;
    }
    // The range is ours to get right: asking past the end would be answered clamped, short.
    if (first < 0 || length < 0 || first > archive.fileSize - length) {
        fail(Reason::Damaged, QStringLiteral("bytes %1 to %2 lie outside the file of %3 bytes")
                                  .arg(first)
                                  .arg(first + length)
                                  .arg(archive.fileSize));
        return;
    }
    if (!sink_) {
        body_.reserve(length);
    }
    stage_ = Stage::Connecting;
    // Read once: the request names what the connection was made for.
    proxyHttp_ = ThroughPlainHttpProxy(archive.protocol, settings_);
    socket_ = std::make_unique<SocketClass>(sockets_);
    connect(socket_.get(), &SocketClass::ConnectEvent, this, &ZipRangeRequest::onConnect);
    connect(socket_.get(), &SocketClass::DataReceivedEvent, this, &ZipRangeRequest::onData);
    connect(socket_.get(), &SocketClass::ErrorEvent, this,
            [this](SocketClass*, std::int32_t errornumber) { onError(errornumber); });
    connect(socket_.get(), &SocketClass::ClosedEvent, this, &ZipRangeRequest::onClosed);
    noAnswer_.start(noAnswerWait_);
    qCInfo(lcEngine).noquote().nospace()
        << "archive range: GET " << UrlForDisplay(DecodeUrl(archive.url)) << " bytes=" << first
        << '-' << first + length;
    // The error of a connection that cannot even start may come from inside this call.
    ConnectToServer(*socket_, archive.protocol, archive.host, archive.port, settings_);
}

void ZipRangeRequest::onConnect() {
    if (stage_ != Stage::Connecting) {
        return;
    }
    stage_ = Stage::Head;
    noAnswer_.start(noAnswerWait_);
    HttpRequestTarget target;
    target.host = archive_.host;
    target.path = archive_.urlPath;
    target.url = archive_.url;
    target.proxyHttp = proxyHttp_;
    target.https = archive_.protocol == Protocol::Https;
    target.port = archive_.port;
    socket_->SendData(ArchiveRangeRequest(target, first_, first_ + length_));
}

void ZipRangeRequest::onData() {
    if (stage_ != Stage::Head && stage_ != Stage::Body) {
        if (socket_) {
            socket_->GetData();
        }
        return;
    }
    noAnswer_.start(noAnswerWait_);
    const QByteArray data = socket_->GetData();
    if (stage_ == Stage::Body) {
        takeBody(data.constData(), data.size());
        return;
    }
    head_ += data;
    qsizetype bodyStart = 0;
    const qsizetype end = FindHeadEnd(head_, bodyStart);
    if (end < 0) {
        if (head_.size() > HttpProbe::MaxHeadBytes) {
            fail(Reason::ServerError,
                 QStringLiteral("the server's answer has no end of its header within 64 KiB"));
        }
        return;
    }
    const QByteArray rest = head_.mid(bodyStart);
    head_.truncate(end + 2);
    if (!acceptHead(head_)) {
        return;
    }
    stage_ = Stage::Body;
    takeBody(rest.constData(), rest.size());
}

bool ZipRangeRequest::acceptHead(const QByteArray& headBytes) {
    const ResponseHead head = ParseResponseHead(headBytes);
    const QString status = StatusLine(headBytes);
    qCInfo(lcEngine).noquote() << "archive range: status" << head.status;
    if (head.status == HttpStatus::Ok) {
        fail(Reason::NoRanges, status);
        return false;
    }
    if (head.status != HttpStatus::PartialContent) {
        fail(Reason::ServerError, status);
        return false;
    }
    const std::optional<ContentRange> range = FindContentRange(headBytes);
    if (!range) {
        fail(Reason::NoRanges, status + QStringLiteral(", without Content-Range"));
        return false;
    }
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
        fail(Reason::WrongRange, detail);
        return false;
    }
    return true;
}

void ZipRangeRequest::takeBody(const char* bytes, qsizetype length) {
    const qsizetype take = static_cast<qsizetype>(qMin<qint64>(length, length_ - received_));
    if (take > 0) {
        received_ += take;
        if (sink_) {
            if (!sink_(bytes, take)) {
                // The sink's owner goes on from here; nothing is reported.
                ++generation_;
                dropConnection();
                stage_ = Stage::Done;
                return;
            }
        } else {
            body_.append(bytes, take);
        }
    }
    // The extra byte asked for, and anything after it, is not wanted.
    if (received_ == length_) {
        succeed();
    }
}

void ZipRangeRequest::onError(std::int32_t errornumber) {
    if (stage_ == Stage::Idle || stage_ == Stage::Done) {
        return;
    }
    const QString problem = socket_ ? socket_->TlsProblem() : QString();
    fail(Reason::Connection,
         problem.isEmpty() ? QStringLiteral("socket error %1").arg(errornumber) : problem);
}

void ZipRangeRequest::onClosed() {
    if (stage_ == Stage::Idle || stage_ == Stage::Done) {
        return;
    }
    if (stage_ == Stage::Body) {
        fail(Reason::Connection, QStringLiteral("the connection closed after %1 of %2 bytes")
                                     .arg(received_)
                                     .arg(length_));
    } else if (stage_ == Stage::Head && !head_.isEmpty()) {
        fail(Reason::Connection,
             QStringLiteral("the connection closed inside the answer's header: %1")
                 .arg(StatusLine(head_)));
    } else {
        fail(Reason::Connection, QStringLiteral("the connection closed without an answer"));
    }
}

void ZipRangeRequest::onNoAnswer() {
    if (stage_ == Stage::Idle || stage_ == Stage::Done) {
        return;
    }
    fail(Reason::NoAnswer, QStringLiteral("nothing came for %1 s")
                               .arg(std::chrono::duration<double>(noAnswerWait_).count()));
}

void ZipRangeRequest::fail(RemoteArchiveFailure::Reason reason, const QString& detail) {
    qCInfo(lcEngine).noquote() << "archive range: failed:" << detail;
    const RemoteArchiveFailure failure{reason, detail};
    conclude([this, failure] { emit failed(failure); });
}

void ZipRangeRequest::succeed() {
    conclude([this] { emit finished(); });
}

void ZipRangeRequest::conclude(std::function<void()> report) {
    dropConnection();
    stage_ = Stage::Done;
    const std::uint64_t generation = ++generation_;
    // From the event loop: this may run inside a socket handler, or inside Start.
    QTimer::singleShot(0, this, [this, generation, report = std::move(report)] {
        if (generation == generation_) {
            report();
        }
    });
}

void ZipRangeRequest::dropConnection() {
    noAnswer_.stop();
    if (socket_) {
        // Its own handler may be running: the object stays until the next request.
        socket_->disconnect(this);
        socket_->CloseSocket();
    }
}
