#include "update/update_server_request.h"

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

void UpdateServerRequest::Start(const UpdateServer& server, const QString& path) {
    Request request;
    request.protocol = server.protocol;
    request.host = server.host;
    request.port = server.port;
    request.what = QStringLiteral("update server");
    request.shown = server.url(path);
    request.lines = [server, path](bool throughProxy) {
        return UpdateRequestLines(server, path, throughProxy);
    };
    request.wait = timeLimit_;
    OneShotRequest::Start(std::move(request));
}
