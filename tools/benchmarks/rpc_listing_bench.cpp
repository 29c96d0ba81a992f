// The remote control's lists at the size of a long-used list: 2,000 entries (half finished,
// half unfinished), listed whole over HTTP as a web front end polls them (tellActive,
// tellWaiting and tellStopped of up to 1,000 each, and the three in one system.multicall),
// on a kept-alive connection from another thread. Medians of 21 runs.
//
//   bench_rpc_listing [ENTRIES]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "engine/engine_context.h"
#include "engine/files/segment_files.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "net/socket_module.h"
#include "rpc/remote_control.h"
#include "tools/benchmarks/bench_lists.h"
#include "tools/benchmarks/quiet_engine.h"

namespace {

constexpr int Runs = 21;
const QString Secret = QStringLiteral("bench");

// system.multicall takes no secret of its own: each call in it has one.
QByteArray Call(const QString& method, QJsonArray params) {
    if (method != QLatin1String("system.multicall")) {
        params.prepend(QStringLiteral("token:") + Secret);
    }
    return QJsonDocument(
               QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}})
        .toJson(QJsonDocument::Compact);
}

// A plain HTTP/1.1 client on a blocking socket: one request, its whole answer; the body's size.
class Client {
public:
    explicit Client(quint16 port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~Client() { ::close(fd_); }

    qsizetype post(const QByteArray& body) {
        const QByteArray request = "POST /jsonrpc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                                   QByteArray::number(body.size()) + "\r\n\r\n" + body;
        ::send(fd_, request.constData(), std::size_t(request.size()), 0);
        QByteArray answer;
        char buffer[65536];
        for (;;) {
            const qsizetype end = answer.indexOf("\r\n\r\n");
            if (end >= 0) {
                const qsizetype at = answer.indexOf("Content-Length: ");
                const qsizetype length =
                    answer.mid(at + 16, answer.indexOf('\r', at) - at - 16).toLongLong();
                if (answer.size() >= end + 4 + length) {
                    return length;
                }
            }
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return -1;
            }
            answer.append(buffer, got);
        }
    }

private:
    int fd_;
};

void Poll(quint16 port, int entries) {
    Client client(port);
    const struct {
        const char* name;
        QByteArray body;
    } requests[] = {
        {"tellActive", Call(QStringLiteral("aria2.tellActive"), {})},
        {"tellWaiting(0, 1000)", Call(QStringLiteral("aria2.tellWaiting"), {0, 1000})},
        {"tellStopped(0, 1000)", Call(QStringLiteral("aria2.tellStopped"), {0, 1000})},
        {"the three in system.multicall",
         Call(QStringLiteral("system.multicall"),
              {QJsonArray{QJsonObject{{"methodName", "aria2.tellActive"},
                                      {"params", QJsonArray{"token:" + Secret}}},
                          QJsonObject{{"methodName", "aria2.tellWaiting"},
                                      {"params", QJsonArray{"token:" + Secret, 0, 1000}}},
                          QJsonObject{{"methodName", "aria2.tellStopped"},
                                      {"params", QJsonArray{"token:" + Secret, 0, 1000}}}}})},
    };
    std::printf("%d entries, over HTTP on loopback, median of %d:\n", entries, Runs);
    for (const auto& request : requests) {
        qsizetype bytes = 0;
        const double ms = Measure(Runs, [&] { bytes = client.post(request.body); });
        std::printf("  %-30s %8.2f ms  (%lld bytes)\n", request.name, ms, qlonglong(bytes));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 2000;
    QTemporaryDir folder;
    DownloadListState list = BigList(entries);
    Settings settings;
    LoadDefaultSettings(settings, folder.path());
    TextTable texts;
    VelmoraSockets sockets;
    SegmentFiles files;
    NoPrompts prompts;
    NoActions actions;
    EngineContext ctx{list,     QDir(folder.path()).filePath(QStringLiteral("list")),
                      settings, texts,
                      sockets,  files,
                      prompts,  actions,
                      {},       {},
                      0};
    NoSessionWindows windows;
    DownloadQueue queue(ctx, windows);
    RemoteControlOptions options;
    options.transport.port = 0;
    options.secret = Secret;
    RemoteControl control(ctx, queue, options);
    if (const QString why = control.start(); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    std::thread poller([&] {
        Poll(control.port(), entries);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    const int code = app.exec();
    poller.join();
    return code;
}
