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

}  // namespace

IeUrlCall CallIeUrl(const QString& url) {
    // Without the variable libdbus would guess a bus (X11 autolaunch among others); the
    // desktop session always sets it, so its absence means there is none.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        return {IeUrlCall::Outcome::NoBus, 0, QStringLiteral("no session bus")};
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return {IeUrlCall::Outcome::NoBus, 0, bus.lastError().message()};
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, ObjectPath, Interface, QStringLiteral("IEURL"));
    call << url;
    call.setAutoStartService(true);
    const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        const QVariantList arguments = reply.arguments();
        if (arguments.size() == 1 && arguments.first().metaType() == QMetaType::fromType<int>()) {
            return {IeUrlCall::Outcome::Answered, arguments.first().toInt(), {}};
        }
        return {IeUrlCall::Outcome::Failed, 0, QStringLiteral("unexpected answer")};
    }
    const QString errorName = reply.errorName();
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.Disconnected")) {
        return {IeUrlCall::Outcome::NoBus, 0, reply.errorMessage()};
    }
    return {NoOneServes(errorName) ? IeUrlCall::Outcome::NoService : IeUrlCall::Outcome::Failed, 0,
            reply.errorMessage()};
}
