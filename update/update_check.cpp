#include "update/update_check.h"

#include "core/diagnostics/log_categories.h"
#include "engine/http/http_status.h"

UpdateCheck::UpdateCheck(VelmoraSockets& sockets, const Settings& settings, UpdateServer server,
                         QObject* parent, ProxyResolver* resolver)
    : QObject(parent), server_(std::move(server)), request_(sockets, settings, nullptr, resolver) {
    connect(&request_, &UpdateServerRequest::sending, this, &UpdateCheck::sending);
    connect(&request_, &UpdateServerRequest::answered, this,
            [this](int status, const QByteArray& body) {
                UpdateCheckResult result;
                result.status = status;
                if (status != HttpStatus::Ok) {
                    result.kind = UpdateCheckResult::Kind::Refused;
                    result.why = QStringLiteral("the server answered %1").arg(status);
                } else {
                    result.file = ReadVersionFile(body);
                    result.kind = result.file.newer ? UpdateCheckResult::Kind::Newer
                                                    : UpdateCheckResult::Kind::UpToDate;
                    if (result.file.newer) {
                        result.packageUrl = UpdatePackageUrl(server_, result.file.digits);
                    }
                }
                qCInfo(lcEngine).noquote()
                    << "update check: status" << status << "version"
                    << (result.file.hasVersion ? result.file.version : QStringLiteral("none"))
                    << (result.file.newer ? "newer" : "");
                emit finished(result);
            });
    connect(&request_, &UpdateServerRequest::failed, this, [this](const OneShotFailure& failure) {
        UpdateCheckResult result;
        result.why = failure.why;
        result.timedOut = failure.kind == OneShotFailure::Kind::NoAnswer;
        emit finished(result);
    });
}

void UpdateCheck::Start() {
    request_.Start(server_, QString::fromLatin1(VersionFilePath));
}
