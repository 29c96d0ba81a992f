#include "launcher/velmora_call.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QMetaType>

namespace {

const QString Service = QStringLiteral("VelmoraProject.Velmora");
const QString ObjectPath = QStringLiteral("/Velmora");
const QString Interface = QStringLiteral("VelmoraProject.Velmora");

// A call that starts Brenloft waits for its start-up, which may show a window (a question
// about a damaged list, say) before the first call is served.
constexpr int CallTimeoutMs = 60000;

// The errors by which the bus says that no one owns the name and activation cannot help. A
// timeout is not one of them: the program may be busy, and a second copy of the address
// handed over another way could be added twice.
bool NoOneServes(const QString& errorName) {
    return errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           errorName.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

// Calls `method` with `arguments`; `expectsResult` tells IEURL's one integer from MenuURL's
// empty answer.
VelmoraCall CallVelmora(const QString& method, const QVariantList& arguments, bool expectsResult) {
    // Without the variable libdbus would guess a bus (X11 autolaunch among others); the
    // desktop session always sets it, so its absence means there is none.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        return {VelmoraCall::Outcome::NoBus, 0, QStringLiteral("no session bus")};
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return {VelmoraCall::Outcome::NoBus, 0, bus.lastError().message()};
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, ObjectPath, Interface, method);
    call.setArguments(arguments);
    call.setAutoStartService(true);
    const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        const QVariantList answer = reply.arguments();
        if (!expectsResult && answer.isEmpty()) {
            return {VelmoraCall::Outcome::Answered, 1, {}};
        }
        if (expectsResult && answer.size() == 1 &&
            answer.first().metaType() == QMetaType::fromType<int>()) {
            return {VelmoraCall::Outcome::Answered, answer.first().toInt(), {}};
        }
        return {VelmoraCall::Outcome::Failed, 0, QStringLiteral("unexpected answer")};
    }
    const QString errorName = reply.errorName();
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.Disconnected")) {
        return {VelmoraCall::Outcome::NoBus, 0, reply.errorMessage()};
    }
    return {NoOneServes(errorName) ? VelmoraCall::Outcome::NoService : VelmoraCall::Outcome::Failed,
            0, reply.errorMessage()};
}

}  // namespace

VelmoraCall CallIeUrl(const QString& url) {
    return CallVelmora(QStringLiteral("IEURL"), {url}, true);
}

VelmoraCall CallMenuUrl(const QString& url, const QString& refURL, const QString& cookie) {
    return CallVelmora(QStringLiteral("MenuURL"), {url, refURL, cookie}, false);
}
