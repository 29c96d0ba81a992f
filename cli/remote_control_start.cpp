#include "cli/remote_control_start.h"

#include <cstdio>

#include "cli/get_options.h"
#include "cli/rpc_secret_file.h"
#include "core/settings/settings.h"
#include "engine/engine_context.h"
#include "rpc/remote_control.h"

namespace {

void Tell(const QString& line) {
    std::fprintf(stderr, "brenloft-get: %s\n", line.toLocal8Bit().constData());
}

QString Where(const RemoteControl& control) {
    const QString scheme = control.secure() ? QStringLiteral("https") : QStringLiteral("http");
    const QString port = QString::number(control.port());
    if (control.options().transport.listenAll) {
        return QStringLiteral("%1://HOST:%2/jsonrpc on every address of this machine")
            .arg(scheme, port);
    }
    return QStringLiteral("%1://127.0.0.1:%2/jsonrpc and %1://[::1]:%2/jsonrpc").arg(scheme, port);
}

}  // namespace

std::unique_ptr<RemoteControl> StartRemoteControl(const GetOptions& options,
                                                  const QString& workFolder, EngineContext& context,
                                                  DownloadQueue& queue, QString& error) {
    // The list keeps no entry whose file lies outside the folder (see DropUnsafeEntries).
    RemoteControlOptions given{options.rpc, options.rpcSecret, context.settings.DownloadFolder};
    const QString secretFile = workFolder + QStringLiteral("/rpc-secret");
    if (given.secret.isEmpty()) {
        given.secret = KeptRpcSecret(secretFile, error);
        if (given.secret.isEmpty()) {
            return nullptr;
        }
    }
    auto control = std::make_unique<RemoteControl>(context, queue, std::move(given));
    error = control->start();
    if (!error.isEmpty()) {
        return nullptr;
    }
    Tell(QStringLiteral("remote control at %1 (and ws%2://)")
             .arg(Where(*control), control->secure() ? QStringLiteral("s") : QString()));
    // A secret given on the command line is known to whoever gave it: it is not repeated.
    Tell(options.rpcSecret.isEmpty()
             ? QStringLiteral("secret: %1 (kept in %2)").arg(control->options().secret, secretFile)
             : QStringLiteral("secret: the one given with --rpc-secret"));
    if (const QString warning = RemoteControlWarning(options.rpc); !warning.isEmpty()) {
        Tell(QStringLiteral("warning: ") + warning);
    }
    std::fflush(stderr);
    return control;
}
