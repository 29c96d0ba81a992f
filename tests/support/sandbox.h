#pragma once

#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

// A folder of the test's own, removed when the test ends.
class Sandbox {
public:
    Sandbox();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
};

// Runs the event loop until `done` holds or the deadline passes; returns whether it held.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Absolute path of a file in the source tree.
QString SourcePath(const QString& relative);
