// Receives one HTTP response through a single socket object and throws the body away:
// the socket layer's own speed, without files. bench_socket_sink HOST PORT PATH
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "engine/http/http_requests.h"
#include "engine/http/response_head.h"
#include "net/socket_class.h"
#include "net/socket_module.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_socket_sink HOST PORT PATH\n");
        return 2;
    }
    VelmoraSockets sockets;
    sockets.StartSockets();
    SocketClass socket(sockets);
    const QString host = QString::fromLocal8Bit(argv[1]);
    HttpRequestTarget target{host, QString::fromLocal8Bit(argv[3]), QString(), {}, {}, {}, false};

    QByteArray head;
    bool inBody = false;
    qint64 body = 0;
    qint64 expected = -1;
    int status = 1;
    QElapsedTimer clock;
    QObject::connect(&socket, &SocketClass::ConnectEvent, [&](SocketClass*) {
        clock.start();
        socket.SendData(WholeFileRequest(target));
    });
    QObject::connect(&socket, &SocketClass::DataReceivedEvent, [&](SocketClass*, std::int32_t) {
        QByteArray data = socket.GetData();
        if (!inBody) {
            head += data;
            const qsizetype end = head.indexOf("\r\n\r\n");
            if (end < 0) {
                return;
            }
            const ResponseHead parsed = ParseResponseHead(head);
            expected = parsed.hasContentLength ? parsed.contentLength : -1;
            body = head.size() - (end + 4);
            inBody = true;
            head.clear();
        } else {
            body += data.size();
        }
        if (expected >= 0 && body >= expected) {
            status = 0;
            app.quit();
        }
    });
    QObject::connect(&socket, &SocketClass::ClosedEvent, [&](SocketClass*) { app.quit(); });
    QObject::connect(&socket, &SocketClass::ErrorEvent, [&](SocketClass*, std::int32_t e) {
        std::fprintf(stderr, "socket error %d\n", e);
        app.quit();
    });
    socket.Connect(host, QString::fromLocal8Bit(argv[2]).toInt());
    app.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("%lld bytes in %.3f s: %.1f MB/s\n", static_cast<long long>(body), seconds,
                body / seconds / 1e6);
    return status;
}
