// Stands in for Brenloft's VelmoraProject.Velmora service on a test's private session bus.
//
//   launcher_velmora_stand_in ADDRESS RECORD
//
// Appends each IEURL argument as a line to RECORD and answers 1 when it begins with "http://"
// or "ftp://" in any letter case, else 0; each MenuURL call as the line "MenuURL", its three
// arguments, separated by tabs. The line is written before the answer, so a caller whose call
// has returned finds it. Prints "ready" once it owns the name; ends when the bus
// goes away, which is how a copy the bus started itself ends with the test.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <utility>

namespace {

class StandIn : public QDBusVirtualObject {
public:
    explicit StandIn(QString record) : record_(std::move(record)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.type() != QDBusMessage::MethodCallMessage) {
            return false;
        }
        const bool menuUrl =
            message.member() == QLatin1String("MenuURL") && message.signature() == "sss";
        if (message.interface() != QLatin1String("VelmoraProject.Velmora") ||
            (!menuUrl &&
             (message.member() != QLatin1String("IEURL") || message.signature() != "s"))) {
            bus.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
            return true;
        }
        if (menuUrl) {
            QStringList line{QStringLiteral("MenuURL")};
            for (const QVariant& argument : message.arguments()) {
                line << argument.toString();
            }
            write(line.join(u'\t'));
            bus.send(message.createReply());
            return true;
        }
        const QString url = message.arguments().first().toString();
        write(url);
        const bool taken = url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                           url.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive);
        bus.send(message.createReply(taken ? 1 : 0));
        return true;
    }

private:
    void write(const QString& line) const {
        QFile file(record_);
        if (file.open(QIODevice::Append)) {
            file.write(line.toUtf8() + '\n');
        }
    }

    QString record_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: launcher_velmora_stand_in ADDRESS RECORD\n", stderr);
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(arguments[1], QStringLiteral("stand-in"));
    StandIn standIn(arguments[2]);
    if (!bus.registerVirtualObject(QStringLiteral("/Velmora"), &standIn) ||
        !bus.registerService(QStringLiteral("VelmoraProject.Velmora"))) {
        std::fprintf(stderr, "cannot serve: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&bus] {
        if (!bus.isConnected()) {
            QCoreApplication::quit();
        }
    });
    watch.start(200);
    return app.exec();
}
