#include "integration/system/system_completion_actions.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QVariantMap>

namespace {

const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNetworkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kActiveConnection =
    QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kSettingsConnection =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManager = QStringLiteral("org.freedesktop.login1.Manager");

// These calls run once, at the end of a list, so a short blocking wait costs nothing and keeps
// the program from ending before the request went out.
constexpr int kNetworkTimeoutMs = 5000;
// polkit may put a password dialog in front of the answer, and a person needs longer than a
// service to reply.
constexpr int kPowerOffTimeoutMs = 120000;

QString Describe(const QString& who, const QDBusMessage& reply) {
    return QStringLiteral("%1: %2: %3").arg(who, reply.errorName(), reply.errorMessage());
}

// The reply, or an error message when the service is missing, refused or did not answer.
QDBusMessage Call(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& method, const QVariantList& arguments,
                  int timeoutMs) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, timeoutMs);
}

// A property of one of NetworkManager's objects; false with `error` set when it can't be read.
bool NetworkManagerProperty(const QDBusConnection& bus, const QString& path,
                            const QString& interface, const QString& name, QVariant& value,
                            QString& error) {
    const QDBusMessage reply = Call(bus, kNetworkManager, path, kProperties, QStringLiteral("Get"),
                                    {interface, name}, kNetworkTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        error = Describe(QStringLiteral("NetworkManager %1 of %2").arg(name, path), reply);
        return false;
    }
    value = reply.arguments().value(0).value<QDBusVariant>().variant();
    return true;
}

// An "ao" value arrives either demarshalled or still as a D-Bus argument, depending on the
// types registered in the process.
bool ObjectPaths(const QVariant& value, QList<QDBusObjectPath>& paths) {
    if (value.metaType() == QMetaType::fromType<QList<QDBusObjectPath>>()) {
        paths = value.value<QList<QDBusObjectPath>>();
        return true;
    }
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == QLatin1String("ao")) {
            argument >> paths;
            return true;
        }
    }
    return false;
}

// The Bluetooth profile ("dun" or "panu") of the saved connection behind an active one.
bool BluetoothProfile(const QDBusConnection& bus, const QString& activePath, QString& profile,
                      QString& error) {
    QVariant connection;
    if (!NetworkManagerProperty(bus, activePath, kActiveConnection, QStringLiteral("Connection"),
                                connection, error)) {
        return false;
    }
    const QString settingsPath = connection.value<QDBusObjectPath>().path();
    const QDBusMessage reply = Call(bus, kNetworkManager, settingsPath, kSettingsConnection,
                                    QStringLiteral("GetSettings"), {}, kNetworkTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        error = Describe(QStringLiteral("NetworkManager settings of %1").arg(activePath), reply);
        return false;
    }
    const QDBusArgument argument = reply.arguments().value(0).value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a{sa{sv}}")) {
        error = QStringLiteral("NetworkManager settings of %1: unexpected reply").arg(activePath);
        return false;
    }
    QMap<QString, QVariantMap> settings;
    argument >> settings;
    profile = settings.value(QStringLiteral("bluetooth")).value(QStringLiteral("type")).toString();
    return true;
}

}  // namespace

bool SystemCompletionActions::startDetached(const QString& program, const QStringList& arguments) {
    lastError_.clear();
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!process.startDetached()) {
        lastError_ = QStringLiteral("%1: %2").arg(program, process.errorString());
        return false;
    }
    return true;
}

bool SystemCompletionActions::IsDialUpType(const QString& type, const QString& bluetoothProfile) {
    // Modems (through ModemManager), PPP over Ethernet and ADSL modems are the links that cost
    // by the minute; "ppp" itself is a setting of those, never a connection type of its own.
    if (type == QLatin1String("gsm") || type == QLatin1String("cdma") ||
        type == QLatin1String("pppoe") || type == QLatin1String("adsl")) {
        return true;
    }
    // A Bluetooth PAN link is a network like Ethernet; only dial-up networking is a modem.
    return type == QLatin1String("bluetooth") && bluetoothProfile == QLatin1String("dun");
}

void SystemCompletionActions::hangUpDialUp() {
    lastError_.clear();
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        lastError_ = QStringLiteral("no system bus: %1").arg(bus.lastError().message());
        return;
    }
    QVariant active;
    QString error;
    if (!NetworkManagerProperty(bus, kNetworkManagerPath, kNetworkManager,
                                QStringLiteral("ActiveConnections"), active, error)) {
        lastError_ = error;
        return;
    }
    QList<QDBusObjectPath> connections;
    if (!ObjectPaths(active, connections)) {
        lastError_ = QStringLiteral("NetworkManager ActiveConnections: unexpected reply");
        return;
    }

    // One connection that can't be read or won't go down must not keep the others up.
    QStringList errors;
    for (const QDBusObjectPath& connection : connections) {
        const QString path = connection.path();
        QVariant type;
        if (!NetworkManagerProperty(bus, path, kActiveConnection, QStringLiteral("Type"), type,
                                    error)) {
            errors << error;
            continue;
        }
        QString profile;
        if (type.toString() == QLatin1String("bluetooth") &&
            !BluetoothProfile(bus, path, profile, error)) {
            errors << error;
            continue;
        }
        if (!IsDialUpType(type.toString(), profile)) {
            continue;
        }
        const QDBusMessage reply = Call(bus, kNetworkManager, kNetworkManagerPath, kNetworkManager,
                                        QStringLiteral("DeactivateConnection"),
                                        {QVariant::fromValue(connection)}, kNetworkTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            errors << Describe(QStringLiteral("NetworkManager deactivating %1").arg(path), reply);
        }
    }
    lastError_ = errors.join(QStringLiteral("; "));
}

void SystemCompletionActions::powerOff() {
    lastError_.clear();
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        lastError_ = QStringLiteral("no system bus: %1").arg(bus.lastError().message());
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kLogin, kLoginPath, kLoginManager,
                                                          QStringLiteral("PowerOff"));
    message << true;  // interactive: polkit may ask the user instead of refusing outright
    message.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kPowerOffTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        lastError_ = Describe(QStringLiteral("logind PowerOff"), reply);
    }
}
