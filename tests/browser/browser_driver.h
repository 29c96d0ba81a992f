#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <chrono>

// One real browser driven headless through driver.mjs (puppeteer-core on Node): a command
// per JSON line, an answer per line. When the object goes, the browser is told to quit and
// then the driver and the browser are ended by their process ids, whatever state they are in.
class BrowserDriver {
public:
    BrowserDriver() = default;
    BrowserDriver(const BrowserDriver&) = delete;
    BrowserDriver& operator=(const BrowserDriver&) = delete;
    ~BrowserDriver();

    // Starts Node on the driver in `driverFolder` with this environment (the browser and the
    // launcher it starts inherit it). False with the reason in error().
    bool start(const QString& driverFolder, const QProcessEnvironment& environment);
    // Sends the command and waits for its answer; an answer {"ok": false, "error": ...} when
    // none came within the deadline or the driver ended.
    QJsonObject ask(const QJsonObject& command,
                    std::chrono::milliseconds deadline = std::chrono::seconds(120));
    // The browser's process, once "start" has answered with it.
    void setBrowserPid(qint64 pid) { browserPid_ = pid; }
    void stop();

    QString error() const { return error_; }

private:
    QProcess node_;
    qint64 nodePid_ = 0;
    qint64 browserPid_ = 0;
    QString error_;
};

// Whether the answer says "ok"; prints the driver's error otherwise.
bool Ok(const QJsonObject& answer);
