#include "update/update_server_request.h"

#include "core/diagnostics/log_categories.h"
#include "core/download_list/records.h"
#include "engine/session/server_route.h"
#include "net/socket_class.h"

QByteArray UpdateRequestLines(const UpdateServer& server, const QString& path, bool throughProxy) {
    const QString name = server.serverName();
    const QString target = throughProxy ? QStringLiteral("http://") + name + path : path;
    const QStringList lines{
        QStringLiteral("GET ") + target + QStringLiteral(" HTTP/1.1"),
        QStringLiteral("Accept: *.*, */*"),
        QStringLiteral("Referer: ") + name + u' ',
        QStringLiteral("Host: ") + name,
        QString(),
    };
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

UpdateServerRequest::UpdateServerRequest(VelmoraSockets& sockets, const Settings& settings,
                                         QObject* parent)
    : QObject(parent), sockets_(sockets), settings_(settings) {
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] {
        if (running_) {
            qCInfo(lcEngine) << "update server: no whole answer within" << timeLimit_.count()
                             << "ms";
            conclude(
                [this, why = QStringLiteral("no whole answer came within %1 s")
                                 .arg(double(timeLimit_.count()) / 1000)] { emit failed(why); });
        }
    });
}

// Never inside one of the socket's handlers: nothing outside this object runs there.
UpdateServerRequest::~UpdateServerRequest() = default;

void UpdateServerRequest::Start(const UpdateServer& server, const QString& path) {
    Abort();
    sockCheckNewVersion.reset();  // not inside its handler: Start is never called from one
    server_ = server;
    path_ = path;
    reader_ = WholeAnswerReader();
    running_ = true;
    proxyHttp_ = ThroughPlainHttpProxy(server.protocol, settings_);
    sockCheckNewVersion = std::make_unique<SocketClass>(sockets_);
    connect(sockCheckNewVersion.get(), &SocketClass::ConnectEvent, this,
            &UpdateServerRequest::sockCheckNewVersion_Connect);
    connect(sockCheckNewVersion.get(), &SocketClass::DataReceivedEvent, this,
            &UpdateServerRequest::sockCheckNewVersion_DataReceived);
    connect(sockCheckNewVersion.get(), &SocketClass::ErrorEvent, this,
            [this](SocketClass*, std::int32_t errornumber) { onError(errornumber); });
    connect(sockCheckNewVersion.get(), &SocketClass::ClosedEvent, this,
            &UpdateServerRequest::onClosed);
    limit_.start(timeLimit_);
    qCInfo(lcEngine).noquote() << "update server: GET" << server.url(path)
                               << (proxyHttp_ ? "through the proxy" : "");
    // The error of a connection that cannot even start may come from inside this call.
    ConnectToServer(*sockCheckNewVersion, server.protocol, server.host, server.port, settings_);
}

void UpdateServerRequest::Abort() {
    ++generation_;
    running_ = false;
    dropConnection();
}

void UpdateServerRequest::sockCheckNewVersion_Connect() {
    if (!running_) {
        return;
    }
    emit sending();
    sockCheckNewVersion->SendData(UpdateRequestLines(server_, path_, proxyHttp_));
}

void UpdateServerRequest::sockCheckNewVersion_DataReceived() {
    if (!running_) {
        return;
    }
    reader_.feed(sockCheckNewVersion->GetData());
    settle();
}

void UpdateServerRequest::onClosed() {
    if (!running_) {
        return;
    }
    const bool clean =
        server_.protocol != Protocol::Https || sockCheckNewVersion->TlsClosedCleanly();
    reader_.closed(clean);
    settle();
}

void UpdateServerRequest::onError(std::int32_t errornumber) {
    if (!running_) {
        return;
    }
    const QString problem = sockCheckNewVersion->TlsProblem();
    const QString why =
        problem.isEmpty() ? QStringLiteral("socket error %1").arg(errornumber) : problem;
    qCInfo(lcEngine).noquote() << "update server: failed:" << why;
    conclude([this, why] { emit failed(why); });
}

void UpdateServerRequest::settle() {
    switch (reader_.state()) {
        case WholeAnswerReader::State::NeedMore:
            return;
        case WholeAnswerReader::State::Failed: {
            const QString why = reader_.problem();
            qCInfo(lcEngine).noquote() << "update server: failed:" << why;
            conclude([this, why] { emit failed(why); });
            return;
        }
        case WholeAnswerReader::State::Done: {
            const int status = reader_.status();
            const QByteArray body = reader_.body();
            qCInfo(lcEngine) << "update server: status" << status << "with" << body.size()
                             << "bytes";
            conclude([this, status, body] { emit answered(status, body); });
            return;
        }
    }
}

void UpdateServerRequest::conclude(std::function<void()> report) {
    running_ = false;
    dropConnection();
    const std::uint64_t generation = ++generation_;
    // From the event loop: this may run inside a socket handler, or inside Start.
    QTimer::singleShot(0, this, [this, generation, report = std::move(report)] {
        if (generation == generation_) {
            report();
        }
    });
}

void UpdateServerRequest::dropConnection() {
    limit_.stop();
    if (sockCheckNewVersion) {
        // Its own handler may be running: the object stays until the next request.
        sockCheckNewVersion->disconnect(this);
        sockCheckNewVersion->CloseSocket();
    }
}
