#include "app/desktop/desktop_remote_control.h"

#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "engine/engine_context.h"

namespace {

constexpr int CouldNotStartText = 1382;
constexpr int NoTlsWarningText = 1383;

RemoteControlOptions OptionsFrom(const Settings& s) {
    RemoteControlOptions options;
    options.transport.port = static_cast<quint16>(s.RemoteControlPort);
    options.transport.listenAll = s.RemoteControlListenAll != 0;
    options.transport.certificateFile = s.RemoteControlCertificate;
    options.transport.privateKeyFile = s.RemoteControlPrivateKey;
    options.secret = s.RemoteControlSecret;
    return options;
}

bool Same(const RemoteControlOptions& a, const RemoteControlOptions& b) {
    return a.transport.port == b.transport.port && a.transport.listenAll == b.transport.listenAll &&
           a.transport.certificateFile == b.transport.certificateFile &&
           a.transport.privateKeyFile == b.transport.privateKeyFile && a.secret == b.secret;
}

}  // namespace

DesktopRemoteControl::DesktopRemoteControl(Parts parts, QObject* parent)
    : QObject(parent), parts_(std::move(parts)) {}

DesktopRemoteControl::~DesktopRemoteControl() = default;

void DesktopRemoteControl::apply() {
    Settings& s = parts_.ctx.settings;
    if (s.UseRemoteControl == 0) {
        server_.reset();
        applied_.reset();
        return;
    }
    if (s.RemoteControlSecret.isEmpty()) {
        s.RemoteControlSecret = NewRpcSecret();
        SaveSingleOption(s, parts_.store, QStringLiteral("RemoteControlSecret"));
    }
    RemoteControlOptions wanted = OptionsFrom(s);
    if (applied_ && Same(*applied_, wanted)) {
        return;
    }
    applied_ = wanted;
    // The old one lets go of its port before the new one asks for it.
    server_.reset();
    auto server = std::make_unique<RemoteControl>(parts_.ctx, parts_.queue, std::move(wanted));
    if (const QString why = server->start(); !why.isEmpty()) {
        parts_.tell(parts_.ctx.texts.text(CouldNotStartText).arg(why));
        return;
    }
    connect(server.get(), &RemoteControl::settingsChanged, this,
            &DesktopRemoteControl::saveSettings);
    // Queued: quitting destroys the server, which is still telling.
    connect(
        server.get(), &RemoteControl::shutdownRequested, this, [this] { parts_.quit(); },
        Qt::QueuedConnection);
    server_ = std::move(server);
    if (!RemoteControlWarning(server_->options().transport).isEmpty()) {
        parts_.tell(parts_.ctx.texts.text(NoTlsWarningText));
    }
}

void DesktopRemoteControl::saveSettings() {
    SaveSettings(parts_.ctx.settings, parts_.store);
    parts_.settingsSaved();
}
