#include "tests/support/sandbox.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

Sandbox::Sandbox() : dir_(QDir::tempPath() + QStringLiteral("/brenloft-test-XXXXXX")) {}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    QDeadlineTimer timer(deadline);
    while (!done()) {
        if (timer.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

QString SourcePath(const QString& relative) {
    return QDir(QStringLiteral(BRENLOFT_SOURCE_DIR)).filePath(relative);
}
