#include "update/update_installer.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include "archive/unzip_archive.h"
#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/text_table.h"
#include "core/urls/parse_url.h"
#include "engine/assembly/completion.h"
#include "engine/engine_context.h"
#include "engine/http/http_status.h"
#include "update/package_signature.h"
#include "update/sealed_package.h"
#include "updater/updater_arguments.h"

namespace {

// Interface texts of the install's messages.
constexpr int NotInstalledText = 902;
constexpr int NoSignatureText = 903;
constexpr int BadSignatureText = 904;
constexpr int NotUnpackedText = 905;
constexpr int NoUpdaterText = 906;

// A signed package asks nothing: members under a password are skipped, which fails the unpack.
class NoQuestions : public UnzipPrompts {
public:
    QString password(const QString&) override { return {}; }
    ReplaceAnswer replace(const QString&) override { return ReplaceAnswer::Replace; }
};

}  // namespace

UpdateInstaller::UpdateInstaller(EngineContext& ctx, Parts parts, QObject* parent)
    : QObject(parent), ctx_(ctx), parts_(std::move(parts)), request_(ctx.sockets, ctx.settings) {
    connect(&request_, &UpdateServerRequest::answered, this, &UpdateInstaller::verifyAndUnpack);
    connect(&request_, &UpdateServerRequest::failed, this,
            [this](const OneShotFailure& failure) { fail(NoSignatureText, failure.why); });
}

void UpdateInstaller::Install(int slot, const QString& packagePath) {
    const DownloadRecord* record = ctx_.list.record(slot);
    if (busy_ || record == nullptr) {
        qCInfo(lcEngine) << "update: package of slot" << slot << "left alone"
                         << (busy_ ? "(another is being installed)" : "(not in the list)");
        return;
    }
    busy_ = true;
    slot_ = slot;
    url_ = record->Url;
    packagePath_ = packagePath;
    qCInfo(lcEngine).noquote() << "update: checking" << packagePath;

    const ParsedUrl parsed = ParseUrl(url_);
    if (parsed.status != UrlValid ||
        (parsed.protocol != Protocol::Http && parsed.protocol != Protocol::Https)) {
        fail(NoSignatureText, QStringLiteral("%1 is not on a web server").arg(UrlForDisplay(url_)));
        return;
    }
    UpdateServer server;
    server.protocol = parsed.protocol;
    server.host = parsed.host;
    server.port = parsed.port;
    request_.setProxyResolver(ctx_.proxyResolver);
    request_.Start(server, parsed.path + QStringLiteral(".sig"));
}

void UpdateInstaller::verifyAndUnpack(int status, const QByteArray& signature) {
    if (status != HttpStatus::Ok) {
        fail(NoSignatureText,
             QStringLiteral("the server answered %1 for %2.sig").arg(status).arg(url_));
        return;
    }
    if (!entryStillOurs()) {
        fail(NotInstalledText, QStringLiteral("the download left the list"));
        return;
    }
    QString problem;
    const std::optional<SealedPackage> package = SealedPackage::Read(packagePath_, &problem);
    if (!package) {
        fail(NotInstalledText, problem);
        return;
    }
    problem = PackageSignatureProblem(package->bytes(), signature, parts_.publicKey);
    if (!problem.isEmpty()) {
        fail(BadSignatureText, problem);
        return;
    }
    // Only now is the version worth reading: it is part of what was signed.
    if (problem = PackageVersionProblem(package->bytes()); !problem.isEmpty()) {
        fail(NotInstalledText, problem);
        return;
    }
    qCInfo(lcEngine) << "update: signature good";
    if (parts_.checked) {
        parts_.checked();
    }
    if (!QFileInfo(parts_.updaterProgram).isExecutable()) {
        fail(NoUpdaterText,
             QStringLiteral("%1 is missing or cannot be run").arg(parts_.updaterProgram));
        return;
    }
    if (const QString why = unpack(*package); !why.isEmpty()) {
        fail(NotUnpackedText, why);
        return;
    }
    startUpdater();
}

QString UpdateInstaller::unpack(const SealedPackage& package) {
    const QString folder = parts_.unpackFolder;
    // A link in its place is removed, never followed into whatever it points at.
    const QFileInfo existing(folder);
    if (existing.isSymLink() || (existing.exists() && !existing.isDir())) {
        QFile::remove(folder);
    } else if (existing.exists() && !QDir(folder).removeRecursively()) {
        return QStringLiteral("cannot clear %1").arg(folder);
    }
    if (!QDir().mkpath(folder)) {
        return QStringLiteral("cannot create %1").arg(folder);
    }
    // The checked bytes themselves, never the file again.
    const UnzipOptions options = UnzipOptions::ForUpdate(package.path(), folder);
    NoQuestions prompts;
    const UnzipResult result = UnzipArchive(options, prompts);
    if (result.code != UnzipCode::kOk) {
        QStringList lines{QStringLiteral("unzip result %1").arg(result.code)};
        lines += result.messages.mid(0, 5);
        return lines.join(u'\n');
    }
    if (result.members.isEmpty()) {
        return QStringLiteral("%1 holds no files").arg(packagePath_);
    }
    return {};
}

void UpdateInstaller::startUpdater() {
    UpdaterArguments arguments;
    arguments.packageFolder = parts_.unpackFolder;
    arguments.program = parts_.program;
    arguments.waitPid = parts_.pid;
    arguments.language = parts_.language;
    if (!QProcess::startDetached(parts_.updaterProgram, arguments.toList(), parts_.unpackFolder)) {
        fail(NoUpdaterText, QStringLiteral("%1 could not be started").arg(parts_.updaterProgram));
        return;
    }
    qCInfo(lcEngine).noquote() << "update: started" << parts_.updaterProgram;
    if (parts_.installed) {
        parts_.installed(slot_);
    }
    if (const QString why = SaveList(ctx_.list, ctx_.listPath); !why.isEmpty()) {
        qCWarning(lcEngine).noquote() << "update: the list was not saved:" << why;
    }
    // Queued: the join's report and the windows it refreshes finish their turn first.
    QTimer::singleShot(0, this, [this] {
        if (parts_.quit) {
            parts_.quit();
        }
    });
}

void UpdateInstaller::fail(int reason, const QString& detail) {
    busy_ = false;
    request_.Abort();
    qCInfo(lcEngine).noquote() << "update: not installed:" << detail;
    QString message = ctx_.texts.text(NotInstalledText);
    if (reason != NotInstalledText) {
        message += QStringLiteral("\n\n") + ctx_.texts.text(reason);
    }
    message += QStringLiteral("\n\n") + detail;
    if (parts_.tell) {
        parts_.tell(message);
    }
    // The join left the end-of-list actions to the install; the program runs on.
    RunCompletionActions(ctx_);
}

bool UpdateInstaller::entryStillOurs() const {
    const DownloadRecord* record = ctx_.list.record(slot_);
    return record != nullptr && record->Url == url_ && Listed(*record);
}
