#include "tests/browser/browser_driver.h"

#include <signal.h>

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QStandardPaths>
#include <iostream>

#include "tests/support/peer_process.h"
#include "tests/support/sandbox.h"

namespace {

void EndByPid(qint64 pid) {
    if (pid > 0 && ProcessAlive(pid)) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

QJsonObject Failure(const QString& why) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), why}};
}

}  // namespace

BrowserDriver::~BrowserDriver() {
    stop();
}

bool BrowserDriver::start(const QString& driverFolder, const QProcessEnvironment& environment) {
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty()) {
        error_ = QStringLiteral("node is not on PATH");
        return false;
    }
    node_.setProcessEnvironment(environment);
    node_.setWorkingDirectory(driverFolder);
    // Node's and puppeteer's complaints belong in the test's output.
    node_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node_.start(node, {driverFolder + QStringLiteral("/driver.mjs")});
    if (!node_.waitForStarted(10000)) {
        error_ = node_.errorString();
        return false;
    }
    nodePid_ = node_.processId();
    return true;
}

QJsonObject BrowserDriver::ask(const QJsonObject& command, std::chrono::milliseconds deadline) {
    if (node_.state() != QProcess::Running) {
        return Failure(QStringLiteral("the driver is not running"));
    }
    node_.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    const QDeadlineTimer timer(deadline);
    while (!node_.canReadLine()) {
        if (timer.hasExpired() || node_.state() != QProcess::Running) {
            return Failure(QStringLiteral("no answer to %1")
                               .arg(command.value(QLatin1String("do")).toString()));
        }
        node_.waitForReadyRead(int(std::min<qint64>(timer.remainingTime(), 1000)));
    }
    const QJsonDocument answer = QJsonDocument::fromJson(node_.readLine());
    return answer.isObject() ? answer.object() : Failure(QStringLiteral("an answer not JSON"));
}

void BrowserDriver::stop() {
    if (node_.state() == QProcess::Running) {
        ask({{QStringLiteral("do"), QStringLiteral("quit")}}, std::chrono::seconds(30));
        node_.closeWriteChannel();
        if (!node_.waitForFinished(10000)) {
            EndByPid(nodePid_);
            node_.waitForFinished(5000);
        }
    }
    // A browser its driver could not close is ended here; its own processes end with it.
    WaitFor([this] { return browserPid_ <= 0 || !ProcessAlive(browserPid_); },
            std::chrono::seconds(10));
    EndByPid(browserPid_);
    browserPid_ = 0;
    nodePid_ = 0;
}

bool Ok(const QJsonObject& answer) {
    if (answer.value(QLatin1String("ok")).toBool()) {
        return true;
    }
    std::cerr << "driver: " << answer.value(QLatin1String("error")).toString().toStdString()
              << '\n';
    return false;
}
