#include "updater/update_copy.h"

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "core/text/text_table.h"

namespace {

constexpr int SystemWideText = 907;
constexpr int NotCopiedText = 908;
constexpr int StillRunningText = 909;
constexpr int NotRestartedText = 910;

// How long the program may take to save its list and end.
constexpr qint64 ExitWaitMs = 60000;

const QString TemporarySuffix = QStringLiteral(".brenloft-update");

UpdateOutcome Outcome(int code, const QString& message) {
    return UpdateOutcome{code, message};
}

bool Inside(const QString& folder, const QString& base) {
    return !base.isEmpty() && (folder == base || folder.startsWith(base + u'/'));
}

// A process that ended but was not yet reaped by its parent counts as gone.
bool Gone(qint64 pid) {
    if (::kill(pid_t(pid), 0) != 0) {
        return errno == ESRCH;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() && line[close + 2] == 'Z';
}

struct Copy {
    QString source;
    QString target;
    QString temporary;
};

void RemoveTemporaries(const std::vector<Copy>& copies) {
    for (const Copy& copy : copies) {
        QFile::remove(copy.temporary);
    }
}

}  // namespace

UpdaterSystem UpdaterSystem::Real() {
    UpdaterSystem system;
    system.home = QDir::homePath();
    system.waitForExit = [](qint64 pid) {
        QElapsedTimer clock;
        clock.start();
        while (!Gone(pid)) {
            if (clock.elapsed() > ExitWaitMs) {
                return false;
            }
            QThread::msleep(100);
        }
        return true;
    };
    system.start = [](const QString& program) { return QProcess::startDetached(program, {}); };
    return system;
}

QString InstallationFolder(const QString& program) {
    const QFileInfo info(program);
    const QDir folder = info.absoluteDir();
    if (folder.dirName() == u"bin") {
        return QFileInfo(folder.absolutePath() + QStringLiteral("/..")).canonicalFilePath();
    }
    return folder.canonicalPath();
}

UpdateOutcome RunUpdate(const UpdaterArguments& arguments, const TextTable& texts,
                        const UpdaterSystem& system) {
    const QString package = QFileInfo(arguments.packageFolder).canonicalFilePath();
    if (package.isEmpty() || !QFileInfo(package).isDir() ||
        !QFileInfo(arguments.program).isAbsolute()) {
        return Outcome(UpdateOutcome::BadArguments,
                       QStringLiteral("The updater needs an unpacked package and the absolute "
                                      "path of the program."));
    }
    const QString installation = InstallationFolder(arguments.program);
    const QString home = QFileInfo(system.home).canonicalFilePath();
    if (installation.isEmpty() || !Inside(installation, home) || installation == home ||
        ::access(QFile::encodeName(installation).constData(), W_OK) != 0) {
        return Outcome(UpdateOutcome::SystemWide,
                       texts.text(SystemWideText) + QStringLiteral("\n\n") + installation);
    }
    if (arguments.waitPid > 0 && !system.waitForExit(arguments.waitPid)) {
        return Outcome(UpdateOutcome::StillRunning, texts.text(StillRunningText));
    }

    std::vector<Copy> copies;
    QDirIterator files(package, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString relative = QDir(package).relativeFilePath(source);
        const QString target = installation + u'/' + relative;
        copies.push_back(Copy{source, target, target + TemporarySuffix});
    }
    if (copies.empty()) {
        return Outcome(UpdateOutcome::NotCopied,
                       texts.text(NotCopiedText) + QStringLiteral("\n\n") + package);
    }
    // First every file beside its target; nothing is replaced until all of them are there.
    for (const Copy& copy : copies) {
        const QString folder = QFileInfo(copy.target).absolutePath();
        QFile::remove(copy.temporary);
        if (!QDir().mkpath(folder) || !QFile::copy(copy.source, copy.temporary) ||
            !QFile::setPermissions(copy.temporary, QFile::permissions(copy.source))) {
            RemoveTemporaries(copies);
            return Outcome(UpdateOutcome::NotCopied,
                           texts.text(NotCopiedText) + QStringLiteral("\n\n") + copy.target);
        }
    }
    for (const Copy& copy : copies) {
        // rename() replaces the target at once, even a program that is running.
        if (std::rename(QFile::encodeName(copy.temporary).constData(),
                        QFile::encodeName(copy.target).constData()) != 0) {
            RemoveTemporaries(copies);
            return Outcome(UpdateOutcome::NotCopied,
                           texts.text(NotCopiedText) + QStringLiteral("\n\n") + copy.target);
        }
    }
    if (!system.start(arguments.program)) {
        return Outcome(UpdateOutcome::NotRestarted,
                       texts.text(NotRestartedText) + QStringLiteral("\n\n") + arguments.program);
    }
    return {};
}
