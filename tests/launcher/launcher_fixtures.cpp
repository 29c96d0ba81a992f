#include "tests/launcher/launcher_fixtures.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QtEndian>

#include "launcher/native_message.h"

namespace {

const QString Velmora = QStringLiteral("VelmoraProject.Velmora");

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

PrivateSessionBus::~PrivateSessionBus() {
    if (!connectionName_.isEmpty()) {
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    bus_.stop();
}

bool PrivateSessionBus::start() {
    const QString services = box_.file(QStringLiteral("services"));
    QDir().mkpath(services);
    if (!bus_.start(QStringLiteral("session"), services)) {
        return false;
    }
    address_ = bus_.address();
    connectionName_ = QStringLiteral("launcher-test-") + QString::number(bus_.pid());
    return QDBusConnection::connectToBus(address_, connectionName_).isConnected();
}

bool PrivateSessionBus::addVelmoraActivation(const QString& program,
                                             const QStringList& arguments) const {
    // The test's paths have no blanks, so Exec needs no quoting.
    const QString exec = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    return WriteFile(box_.file(QStringLiteral("services/VelmoraProject.Velmora.service")),
                     ("[D-BUS Service]\nName=" + Velmora + "\nExec=" + exec + "\n").toUtf8());
}

qint64 PrivateSessionBus::velmoraOwner() {
    if (connectionName_.isEmpty()) {
        return 0;
    }
    QDBusConnectionInterface* bus = QDBusConnection(connectionName_).interface();
    if (bus == nullptr || !bus->isServiceRegistered(Velmora).value()) {
        return 0;
    }
    return bus->servicePid(Velmora).value();
}

bool VelmoraStandIn::start(const QString& busAddress, const QString& record) {
    return peer_.start(QStringLiteral(VELMORA_STAND_IN), {busAddress, record}) &&
           peer_.firstLine() == QLatin1String("ready");
}

QString WriteMarkScript(const Sandbox& box, const QString& mark) {
    const QString script = box.file(QStringLiteral("brenloft.sh"));
    // One write per start, so a line is whole once it is there; the streams come first.
    WriteFile(script,
              QStringLiteral("#!/bin/sh\n"
                             "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                             "printf '%s\\n' \"$streams\" | paste -sd ' ' >> '%1.streams'\n"
                             "line=$(printf '%s' \"$#\"; printf ' [%s]' \"$@\")\n"
                             "printf '%s\\n' \"$line\" >> '%1'\n")
                  .arg(mark)
                  .toUtf8());
    QFile::setPermissions(script,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return script;
}

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

QProcessEnvironment LauncherEnvironment(const QString& busAddress, const QString& program) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE"}) {
        env.remove(QLatin1String(name));
    }
    if (!busAddress.isEmpty()) {
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    }
    env.insert(QStringLiteral("BRENLOFT_PROGRAM"), program);
    return env;
}

LauncherRun RunLauncher(const QStringList& arguments, const QProcessEnvironment& environment,
                        const QByteArray& input) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELMORA_LAUNCHER), arguments);
    LauncherRun run;
    if (!process.waitForStarted()) {
        return run;
    }
    process.write(input);
    process.closeWriteChannel();
    // Only a hang ends here: a start by activation takes as long as it takes.
    run.finished = process.waitForFinished(120000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.status = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray Header(quint32 length) {
    QByteArray header(4, Qt::Uninitialized);
    qToUnaligned(length, header.data());
    return header;
}

QByteArray Framed(const QByteArray& body) {
    return Header(quint32(body.size())) + body;
}

std::vector<QJsonObject> Answers(const QByteArray& out) {
    QBuffer buffer;
    buffer.setData(out);
    buffer.open(QIODevice::ReadOnly);
    NativeMessage::Reader reader(buffer);
    std::vector<QJsonObject> answers;
    for (NativeMessage::Frame frame = reader.next(); frame.kind != NativeMessage::Frame::Kind::End;
         frame = reader.next()) {
        EXPECT_EQ(frame.kind, NativeMessage::Frame::Kind::Message) << "not whole frames";
        if (frame.kind != NativeMessage::Frame::Kind::Message) {
            break;
        }
        const QJsonDocument document = QJsonDocument::fromJson(frame.body);
        EXPECT_TRUE(document.isObject()) << frame.body.constData();
        answers.push_back(document.object());
    }
    return answers;
}

QByteArray RandomBytes(QRandomGenerator& random, int count) {
    QByteArray bytes(count, Qt::Uninitialized);
    for (char& c : bytes) {
        c = char(random.bounded(256));
    }
    return bytes;
}
