#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "update/update_server.h"
#include "update/whole_answer.h"

class SocketClass;
class VelmoraSockets;
struct Settings;

// The lines the update check sends for `path`, each ended by CR LF, then an empty line: the
// request line (naming the whole address when it goes to the plain HTTP proxy), "Accept",
// "Referer" (the server name and a blank, as the check has always sent it) and "Host".
QByteArray UpdateRequestLines(const UpdateServer& server, const QString& path, bool throughProxy);

// One GET of a small file on the update server over the program's own sockets, directly or
// through the proxy the settings name (a tunnel for https://), and its whole answer: at most
// WholeAnswerReader::MaxBytes, within the time limit from the start. The socket object and its
// two handlers keep the names the main window's check has always had.
//
// `answered` and `failed` come from the event loop, never from inside a socket handler, so a
// receiver may ask the user, start another request or delete this one.
class UpdateServerRequest : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kTimeLimit{30000};

    UpdateServerRequest(VelmoraSockets& sockets, const Settings& settings,
                        QObject* parent = nullptr);
    ~UpdateServerRequest() override;

    // Tests wait less; takes effect at the next Start.
    void setTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }

    // Asks for `path` (percent-encoded, from "/"); a request still running is dropped first.
    void Start(const UpdateServer& server, const QString& path);
    // Closes the connection; no signal follows.
    void Abort();

signals:
    // Connected: the request is on its way.
    void sending();
    // The whole answer, whatever its status.
    void answered(int status, const QByteArray& body);
    // No whole answer: no connection, a close or damage in the middle, too big, too slow.
    void failed(const QString& why);

private:
    void sockCheckNewVersion_Connect();
    void sockCheckNewVersion_DataReceived();
    void onError(std::int32_t errornumber);
    void onClosed();
    void settle();
    void conclude(std::function<void()> report);
    void dropConnection();

    VelmoraSockets& sockets_;
    const Settings& settings_;
    std::unique_ptr<SocketClass> sockCheckNewVersion;
    QTimer limit_;
    std::chrono::milliseconds timeLimit_ = kTimeLimit;
    UpdateServer server_;
    QString path_;
    bool proxyHttp_ = false;
    bool running_ = false;
    std::uint64_t generation_ = 0;  // a report scheduled for an older request is dropped
    WholeAnswerReader reader_;
};
