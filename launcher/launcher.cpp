#include "launcher/launcher.h"

#include <signal.h>
#include <unistd.h>

#include <QFile>

#include "core/paths/app_paths.h"
#include "core/settings/browser_hook_files.h"
#include "core/urls/parse_url.h"
#include "launcher/brenloft_start.h"
#include "launcher/native_host.h"
#include "launcher/native_message.h"
#include "launcher/velmora_call.h"

namespace {

// Each message stands for one click on "Download with Brenloft", so without a bus the host
// starts Brenloft for each one, as the command-line mode does: the user expects every address
// they sent to arrive, and the single-instance hand-off passes later ones to the copy the
// first start opened. An error alone would drop downloads the program could have taken.
QJsonObject NativeAnswer(const Delivery& delivery) {
    switch (delivery.kind) {
        case Delivery::Kind::Answered:
            return NativeMessage::ResultAnswer(delivery.result);
        case Delivery::Kind::CallFailed:
            return NativeMessage::ResultAnswer(0);
        case Delivery::Kind::Started:
            return NativeMessage::StartedAnswer();
        case Delivery::Kind::Unreachable:
            break;
    }
    return NativeMessage::ErrorAnswer(QStringLiteral("Brenloft is not reachable: ") +
                                      delivery.error);
}

}  // namespace

namespace {

Delivery DeliverCall(const QString& url, const VelmoraCall& call) {
    switch (call.outcome) {
        case VelmoraCall::Outcome::Answered:
            return {Delivery::Kind::Answered, call.result, {}};
        case VelmoraCall::Outcome::Failed:
            return {Delivery::Kind::CallFailed, 0, call.error};
        case VelmoraCall::Outcome::NoBus:
        case VelmoraCall::Outcome::NoService:
            break;
    }
    const QString failure = StartBrenloft(url);
    if (failure.isEmpty()) {
        return {Delivery::Kind::Started, 0, {}};
    }
    return {Delivery::Kind::Unreachable, 0, call.error + QStringLiteral("; ") + failure};
}

}  // namespace

Delivery Deliver(const QString& url) {
    return DeliverCall(url, CallIeUrl(url));
}

Delivery Deliver(const NativeMessage::Request& request) {
    using NativeMessage::Via;
    if (request.via == Via::Address) {
        return Deliver(request.url);
    }
    // IEURL's own test: the browser keeps a download whose address Brenloft would not take.
    if (request.via == Via::Download && !HasDownloadScheme(request.url, Qt::CaseInsensitive)) {
        return {Delivery::Kind::Answered, 0, {}};
    }
    return DeliverCall(request.url, CallMenuUrl(request.url, request.referrer, request.cookie));
}

int RunUrlMode(const QString& commandLine) {
    return Deliver(commandLine).kind == Delivery::Kind::Unreachable ? 1 : 0;
}

int RunNativeMessagingHost() {
    // A browser that goes away closes the pipe; the host then ends on the failed write rather
    // than on SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    QFile in;
    QFile out;
    if (!in.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return 1;
    }
    // Read at each question: the user may change them while the browser runs.
    const auto choices = [] {
        const QString folder = ApplicationFolder();
        return NativeMessage::ChoicesAnswer(ContextMenuInstalled(folder), ReadIeModeFile(folder));
    };
    return ServeNativeMessages(
        in, out,
        [](const NativeMessage::Request& request) { return NativeAnswer(Deliver(request)); },
        choices);
}
