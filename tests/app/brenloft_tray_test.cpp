// The tray icon as today's panels show it: a StatusNotifierItem registered with the session's
// watcher (KDE's panel, GNOME's AppIndicator extension), with the program's tip and picture.
#include <gtest/gtest.h>

#include <csignal>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include "tests/app/brenloft_program.h"
#include "tests/support/private_bus.h"
#include "tests/support/xvfb_display.h"

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// The panel's side: a watcher with a host, recording the items that register.
class Watcher : public QDBusVirtualObject {
public:
    QStringList items;

    QString introspect(const QString&) const override {
        // Qt reads the host's property through an introspected interface.
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg type=\"s\" direction=\"in\"/>"
            "</method>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QDBusMessage reply = message.createReply();
        if (message.member() == QLatin1String("Introspect")) {
            reply << QStringLiteral("<node>") + introspect({}) + QStringLiteral("</node>");
        } else if (message.member() == QLatin1String("RegisterStatusNotifierItem")) {
            items << message.arguments().value(0).toString();
        } else if (message.interface() == kProperties && message.member() == QLatin1String("Get")) {
            const QString name = message.arguments().value(1).toString();
            reply << QVariant::fromValue(QDBusVariant(
                name == QLatin1String("ProtocolVersion")                 ? QVariant(0)
                : name == QLatin1String("RegisteredStatusNotifierItems") ? QVariant(items)
                                                                         : QVariant(true)));
        } else if (message.interface() == kProperties) {
            reply << QVariantMap{{QStringLiteral("IsStatusNotifierHostRegistered"), true},
                                 {QStringLiteral("ProtocolVersion"), 0},
                                 {QStringLiteral("RegisteredStatusNotifierItems"), items}};
        }
        return connection.send(reply);
    }
};

QVariant ItemProperty(QDBusConnection& bus, const QString& item, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(item, QStringLiteral("/StatusNotifierItem"),
                                                      kProperties, QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, 30000);
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

// Reads an array of (width, height, ARGB bytes); how many hold a whole picture.
int Pictures(const QDBusArgument& argument) {
    int whole = 0;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0, height = 0;
        QByteArray bytes;
        argument.beginStructure();
        argument >> width >> height >> bytes;
        argument.endStructure();
        whole += width > 0 && bytes.size() == width * height * 4;
    }
    argument.endArray();
    return whole;
}

}  // namespace

TEST(BrenloftTray, RegistersWithThePanelsWatcherShowingItsTipAndPicture) {
    XvfbDisplay display;
    ASSERT_TRUE(display.start()) << display.error().toStdString();
    PrivateBus bus;
    ASSERT_TRUE(bus.start(QStringLiteral("session"))) << bus.error().toStdString();
    QDBusConnection panel = QDBusConnection::connectToBus(bus.address(), QStringLiteral("panel"));
    Watcher watcher;
    ASSERT_TRUE(panel.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher));
    ASSERT_TRUE(panel.registerService(kWatcher));

    BrenloftHome home;
    home.setSessionBus(bus.address());
    home.setDisplay(display.name());
    BrenloftRun run(home);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(WaitFor([&] { return !watcher.items.isEmpty(); }, std::chrono::seconds(60)));
    const QString item = watcher.items.first();

    // ToolTip is (icon name, pictures, title, text): the title is the tray's tip.
    const QDBusArgument tip =
        ItemProperty(panel, item, QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString title;
    tip.beginStructure();
    tip >> title;
    Pictures(tip);
    tip >> title;
    tip.endStructure();
    EXPECT_EQ(title, QStringLiteral("BrenloftCatcher"));
    // A panel draws the item from its pictures: an icon name the theme may lack is not enough.
    EXPECT_GT(
        Pictures(ItemProperty(panel, item, QStringLiteral("IconPixmap")).value<QDBusArgument>()),
        0);
    EXPECT_EQ(ItemProperty(panel, item, QStringLiteral("Status")).toString(),
              QStringLiteral("Active"));
    EXPECT_TRUE(run.stopWith(SIGTERM));
    QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
}
