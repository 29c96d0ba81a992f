#pragma once

#include <QObject>
#include <QString>
#include <chrono>

#include "update/update_server.h"
#include "update/update_server_request.h"
#include "update/version_file.h"

struct UpdateCheckResult {
    enum class Kind {
        Newer,     // a newer version: `file` and `packageUrl` say which
        UpToDate,  // the version file names no newer version, or no version at all
        Refused,   // the server answered, but not with 200: `status`
        NoAnswer,  // no whole answer: `why`
    };
    Kind kind = Kind::NoAnswer;
    VersionFile file;
    QString packageUrl;
    int status = 0;
    QString why;
    bool timedOut = false;  // NoAnswer: the wait ran out, rather than the connection failing
};

// The main window's question to the update server: the version file, read whole, and what it
// means for this program. Only a 200 answer counts, so an error page never names a version.
// Knows nothing of windows: the main window shows its states and asks the user.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    // `resolver`: where the proxy route comes from; none: the settings' proxies.
    UpdateCheck(VelmoraSockets& sockets, const Settings& settings, UpdateServer server,
                QObject* parent = nullptr, ProxyResolver* resolver = nullptr);

    void setTimeLimit(std::chrono::milliseconds limit) { request_.setTimeLimit(limit); }
    void Start();

signals:
    void sending();
    // From the event loop, once per Start.
    void finished(const UpdateCheckResult& result);

private:
    UpdateServer server_;
    UpdateServerRequest request_;
};
