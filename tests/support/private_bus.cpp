#include "tests/support/private_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFile>
#include <QMap>
#include <QProcessEnvironment>

#include "tests/support/peer_process.h"
#include "tests/support/sandbox.h"

PrivateBus::PrivateBus() = default;

PrivateBus::~PrivateBus() {
    stop();
}

bool PrivateBus::start(const QString& type, const QString& serviceFolder) {
    stop();
    box_ = std::make_unique<Sandbox>();
    const QString socket = box_->file(QStringLiteral("bus_socket"));
    const QString services =
        serviceFolder.isEmpty()
            ? QString()
            : QStringLiteral("  <servicedir>%1</servicedir>\n").arg(serviceFolder.toHtmlEscaped());
    QFile config(box_->file(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write ") + config.fileName();
        return false;
    }
    config.write(QStringLiteral("<busconfig>\n"
                                "  <type>%1</type>\n"
                                "  <listen>unix:path=%2</listen>\n"
                                "  <auth>EXTERNAL</auth>\n"
                                "%3"
                                "  <policy context=\"default\">\n"
                                "    <allow user=\"*\"/>\n"
                                "    <allow own=\"*\"/>\n"
                                "    <allow send_destination=\"*\"/>\n"
                                "    <allow receive_sender=\"*\"/>\n"
                                "  </policy>\n"
                                "</busconfig>\n")
                     .arg(type, socket, services)
                     .toUtf8());
    config.close();
    daemon_ = std::make_unique<PeerProcess>();
    if (!daemon_->start(QStringLiteral("dbus-daemon"),
                        {QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                         QStringLiteral("--nosyslog"), QStringLiteral("--print-address=1"),
                         QStringLiteral("--config-file=") + config.fileName()})) {
        error_ = daemon_->error();
        return false;
    }
    address_ = daemon_->firstLine();
    if (!address_.startsWith(QStringLiteral("unix:path=") + socket)) {
        error_ = QStringLiteral("dbus-daemon printed \"%1\": %2")
                     .arg(address_, QString::fromLocal8Bit(daemon_->errorOutput()));
        address_.clear();
        return false;
    }
    return true;
}

void PrivateBus::stop() {
    daemon_.reset();
    address_.clear();
}

qint64 PrivateBus::pid() const {
    return daemon_ ? daemon_->pid() : 0;
}

bool PrivateBus::SetActivationEnvironment(QDBusConnection& connection,
                                          const QProcessEnvironment& environment) {
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QMap<QString, QString> values;
    for (const QString& key : environment.keys()) {
        values.insert(key, environment.value(key));
    }
    QDBusMessage update = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    update << QVariant::fromValue(values);
    return connection.call(update).type() == QDBusMessage::ReplyMessage;
}
