#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>

#include "engine/http/one_shot_request.h"
#include "update/update_server.h"

// The lines the update check sends for `path`, each ended by CR LF, then an empty line: the
// request line (naming the whole address when it goes to the plain HTTP proxy), "Accept",
// "Referer" (the server name and a blank, as the check has always sent it) and "Host".
QByteArray UpdateRequestLines(const UpdateServer& server, const QString& path, bool throughProxy);

// One GET of a small file on the update server and its whole answer: at most
// WholeAnswerReader::MaxBytes, within the time limit from the start. `answered` comes with
// whatever status the server gave.
class UpdateServerRequest : public OneShotRequest {
public:
    static constexpr std::chrono::milliseconds kTimeLimit{30000};

    using OneShotRequest::OneShotRequest;

    // Tests wait less; takes effect at the next Start.
    void setTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }
    // Asks for `path` (percent-encoded, from "/"); a request still running is dropped first.
    void Start(const UpdateServer& server, const QString& path);

private:
    std::chrono::milliseconds timeLimit_ = kTimeLimit;
};
