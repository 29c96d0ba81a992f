// Stands in for NetworkManager and systemd-logind on a test's private bus.
//
//   integration_fake_system_services ADDRESS [--deny-power-off] CONNECTION...
//
// Each CONNECTION becomes an active connection, numbered from 1 in the order given:
//   TYPE          of that NetworkManager type ("gsm", "802-3-ethernet", ...)
//   bluetooth:dun or bluetooth:panu, a Bluetooth link of that profile
//   TYPE:refuse   whose deactivation fails
//   gone          listed as active, but its object has already disappeared
// Prints "ready" once both names are owned, then one line per request that changes something
// ("DeactivateConnection PATH", "PowerOff true|false [allow-interactive-authorization]",
// "Inhibit N WHAT WHO WHY MODE") and "unexpected ..." for any request a client should not make.
// Inhibitor N is the write end of a pipe; "Released N" follows once the client closed it. Each line
// is out before the reply, so a client whose blocking call returned has its line in the pipe.

#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QList>
#include <QMap>
#include <QSocketNotifier>
#include <QVariantMap>
#include <cstdio>
#include <utility>

namespace {

const QString kNetworkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kActivePrefix = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/");
const QString kSettingsPrefix = QStringLiteral("/org/freedesktop/NetworkManager/Settings/");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kSettings = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManager = QStringLiteral("org.freedesktop.login1.Manager");

struct Connection {
    QString type;
    QString profile;
    bool refuse = false;
    bool gone = false;
};

void Report(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

class FakeServices : public QDBusVirtualObject {
public:
    FakeServices(QList<Connection> connections, bool denyPowerOff)
        : connections_(std::move(connections)), denyPowerOff_(denyPowerOff) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.type() != QDBusMessage::MethodCallMessage) {
            return false;
        }
        bus.send(answer(message));
        return true;
    }

private:
    QDBusMessage answer(const QDBusMessage& message) {
        const QString path = message.path();
        const QString call = message.interface() + QLatin1Char('.') + message.member();
        const QVariantList arguments = message.arguments();
        if (path == kNetworkManagerPath && call == kProperties + QStringLiteral(".Get") &&
            arguments == QVariantList{kNetworkManager, QStringLiteral("ActiveConnections")}) {
            QList<QDBusObjectPath> paths;
            for (int i = 0; i < connections_.size(); ++i) {
                paths << QDBusObjectPath(kActivePrefix + QString::number(i + 1));
            }
            return message.createReply(
                QVariant::fromValue(QDBusVariant(QVariant::fromValue(paths))));
        }
        if (path == kNetworkManagerPath &&
            call == kNetworkManager + QStringLiteral(".DeactivateConnection") &&
            message.signature() == QLatin1String("o")) {
            const QString target = arguments.value(0).value<QDBusObjectPath>().path();
            Report(QStringLiteral("DeactivateConnection ") + target);
            const Connection* connection = find(target, kActivePrefix);
            if (connection == nullptr) {
                return message.createErrorReply(
                    QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotActive"),
                    QStringLiteral("The connection was not active."));
            }
            if (connection->refuse) {
                return message.createErrorReply(
                    QStringLiteral("org.freedesktop.NetworkManager.Failed"),
                    QStringLiteral("Device is busy."));
            }
            return message.createReply();
        }
        if (const Connection* connection = find(path, kActivePrefix);
            connection != nullptr && call == kProperties + QStringLiteral(".Get") &&
            arguments.value(0).toString() == kActive) {
            const QString property = arguments.value(1).toString();
            if (property == QLatin1String("Type")) {
                return message.createReply(QVariant::fromValue(QDBusVariant(connection->type)));
            }
            if (property == QLatin1String("Connection")) {
                const QDBusObjectPath settings(kSettingsPrefix + path.mid(kActivePrefix.size()));
                return message.createReply(
                    QVariant::fromValue(QDBusVariant(QVariant::fromValue(settings))));
            }
        }
        if (const Connection* connection = find(path, kSettingsPrefix);
            connection != nullptr && call == kSettings + QStringLiteral(".GetSettings")) {
            QMap<QString, QVariantMap> settings;
            settings[QStringLiteral("connection")][QStringLiteral("type")] = connection->type;
            if (!connection->profile.isEmpty()) {
                settings[QStringLiteral("bluetooth")][QStringLiteral("type")] = connection->profile;
            }
            return message.createReply(QVariant::fromValue(settings));
        }
        if (path == kLoginPath && call == kLoginManager + QStringLiteral(".PowerOff") &&
            message.signature() == QLatin1String("b")) {
            QString line =
                QStringLiteral("PowerOff ") +
                (arguments.value(0).toBool() ? QStringLiteral("true") : QStringLiteral("false"));
            if (message.isInteractiveAuthorizationAllowed()) {
                line += QStringLiteral(" allow-interactive-authorization");
            }
            Report(line);
            if (denyPowerOff_) {
                return message.createErrorReply(
                    QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                    QStringLiteral("Permission denied"));
            }
            return message.createReply();
        }
        if (path == kLoginPath && call == kLoginManager + QStringLiteral(".Inhibit") &&
            message.signature() == QLatin1String("ssss")) {
            return inhibit(message);
        }
        if (call != kProperties + QStringLiteral(".Get")) {
            Report(QStringLiteral("unexpected %1(%2) on %3").arg(call, message.signature(), path));
        }
        return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                                        QStringLiteral("No such object or property: ") + path);
    }

    // Hands out the write end of a pipe, and reports when its read end sees the end of file.
    QDBusMessage inhibit(const QDBusMessage& message) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            return message.createErrorReply(QDBusError::Failed, QStringLiteral("no pipe"));
        }
        const QString number = QString::number(++inhibitors_);
        Report(QStringLiteral("Inhibit ") + number + u' ' +
               QVariant(message.arguments()).toStringList().join(u' '));
        auto* watch = new QSocketNotifier(ends[0], QSocketNotifier::Read);
        QObject::connect(watch, &QSocketNotifier::activated, [watch, number] {
            const int fd = static_cast<int>(watch->socket());
            char byte = 0;
            if (read(fd, &byte, 1) <= 0) {
                Report(QStringLiteral("Released ") + number);
                close(fd);
                watch->deleteLater();
            }
        });
        const QDBusUnixFileDescriptor handed(ends[1]);  // a copy of its own
        close(ends[1]);
        return message.createReply(QVariant::fromValue(handed));
    }

    // The live connection behind `path` (an active connection or its settings), if any.
    const Connection* find(const QString& path, const QString& prefix) const {
        if (!path.startsWith(prefix)) {
            return nullptr;
        }
        bool ok = false;
        const int index = path.mid(prefix.size()).toInt(&ok) - 1;
        if (!ok || index < 0 || index >= connections_.size() || connections_[index].gone) {
            return nullptr;
        }
        return &connections_[index];
    }

    QList<Connection> connections_;
    bool denyPowerOff_;
    int inhibitors_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fputs(
            "usage: integration_fake_system_services ADDRESS [--deny-power-off] CONNECTION...\n",
            stderr);
        return 2;
    }
    const QString address = arguments.takeFirst();
    const bool denyPowerOff = arguments.removeAll(QStringLiteral("--deny-power-off")) > 0;
    QList<Connection> connections;
    for (const QString& argument : arguments) {
        const QStringList parts = argument.split(QLatin1Char(':'));
        Connection connection;
        connection.type = parts.first();
        connection.gone = argument == QLatin1String("gone");
        connection.refuse = parts.contains(QStringLiteral("refuse"));
        if (connection.type == QLatin1String("bluetooth")) {
            connection.profile = parts.value(1);
        }
        connections << connection;
    }
    qDBusRegisterMetaType<QMap<QString, QVariantMap>>();

    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake"));
    FakeServices services(connections, denyPowerOff);
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(QStringLiteral("/org/freedesktop"), &services,
                                   QDBusConnection::SubPath) ||
        !bus.registerService(kNetworkManager) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "cannot serve on %s: %s\n", qPrintable(address),
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    Report(QStringLiteral("ready"));
    return app.exec();
}
