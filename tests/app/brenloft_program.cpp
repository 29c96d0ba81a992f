#include "tests/app/brenloft_program.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSettings>

#include "core/download_list/list_file_format.h"

namespace {

constexpr int ExitDeadlineMs = 20000;

const QString RunFolder = QStringLiteral("run");

bool MakePrivateFolder(const QString& path) {
    return QDir().mkpath(path) &&
           QFile::setPermissions(
               path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

}  // namespace

BrenloftHome::BrenloftHome() {
    for (const char* folder : {"config", "data", "cache", "home", "tmp-files", "dl", "tmp"}) {
        QDir().mkpath(path(QLatin1String(folder)));
    }
    // Qt ignores a runtime folder that others may enter.
    MakePrivateFolder(path(RunFolder));
    setOption(QStringLiteral("DownloadFolder"), path(QStringLiteral("dl/")));
    setOption(QStringLiteral("TempFolder"), path(QStringLiteral("tmp/")));
    setOption(QStringLiteral("ShowDownloadWindows"), QStringLiteral("0"));
    // The question about a copied address would wait for an answer no one gives.
    setOption(QStringLiteral("CheckClipboard"), QStringLiteral("0"));
    setOption(QStringLiteral("MaxSegments"), QStringLiteral("4"));
}

QString BrenloftHome::app(const QString& name) const {
    return QDir::cleanPath(path(QStringLiteral("app/") + name));
}

QString BrenloftHome::downloads(const QString& name) const {
    return path(QStringLiteral("dl/") + name);
}

QString BrenloftHome::settingsFile() const {
    return path(QStringLiteral("config/Velmora/Velmora.ini"));
}

void BrenloftHome::setOption(const QString& key, const QString& value) const {
    QSettings ini(settingsFile(), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Options/") + key, value);
    ini.sync();
}

QProcessEnvironment BrenloftHome::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BRENLOFT_HOME"), path(QStringLiteral("app")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    // The activation file and everything else of the desktop stay in the sandbox.
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(RunFolder));
    env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
    env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp-files")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Neither the user's session bus nor their display: nothing of theirs is reachable.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               sessionBus_.isEmpty()
                   ? QStringLiteral("unix:path=") + path(QStringLiteral("no-session-bus"))
                   : sessionBus_);
    // Nor the machine's system bus: downloads that run ask it to hold off suspend.
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + path(QStringLiteral("no-system-bus")));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!display_.isEmpty()) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display_);
    }
    return env;
}

bool BrenloftHome::savedList(DownloadListState& list) const {
    QFile file(listFile());
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    list = DownloadListState{};
    return DecodeListFile(file.readAll(), list).complete;
}

bool BrenloftHome::writeHandOff(const QByteArray& line) const {
    // Renamed into place, so the program never reads half of it.
    QSaveFile file(app(QStringLiteral("templine.dat")));
    return file.open(QIODevice::WriteOnly) && file.write(line + "\r\n") == line.size() + 2 &&
           file.commit();
}

BrenloftRun::BrenloftRun(const BrenloftHome& home) : home_(home) {}

BrenloftRun::~BrenloftRun() {
    if (running()) {
        kill();
    }
}

bool BrenloftRun::start(const QStringList& arguments) {
    process_.setProcessEnvironment(home_.environment());
    // Sanitizer reports and warnings belong in the test's output.
    process_.setProcessChannelMode(keepErrors_ ? QProcess::ForwardedOutputChannel
                                               : QProcess::ForwardedChannels);
    process_.start(QStringLiteral(BRENLOFT_EXE), arguments);
    if (!process_.waitForStarted(10000)) {
        return false;
    }
    pid_ = process_.processId();
    return true;
}

bool BrenloftRun::catches(int signalNumber) const {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid_));
    if (pid_ <= 0 || !status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            return (mask >> (signalNumber - 1)) & 1;
        }
    }
    return false;
}

bool BrenloftRun::stopWith(int signalNumber) {
    if (!WaitFor([&] { return catches(signalNumber) || !running(); }) || !running()) {
        return false;
    }
    ::kill(static_cast<pid_t>(pid_), signalNumber);
    return waitForExit();
}

bool BrenloftRun::kill() {
    if (pid_ <= 0) {
        return false;
    }
    ::kill(static_cast<pid_t>(pid_), SIGKILL);
    return waitForExit();
}

bool BrenloftRun::waitForExit() {
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(ExitDeadlineMs);
}

bool BrenloftRun::endedCleanly() const {
    return !running() && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

bool ListensForLaterStarts(const BrenloftHome& home) {
    const QDir run(home.path(RunFolder));
    for (const QString& name : run.entryList(QDir::System | QDir::Files | QDir::Hidden)) {
        struct stat info {};
        if (::stat(QFile::encodeName(run.filePath(name)).constData(), &info) == 0 &&
            S_ISSOCK(info.st_mode)) {
            return true;
        }
    }
    return false;
}

bool HoldsBytes(const QString& path, const QByteArray& bytes) {
    // The size first: assembly fills the target in place, so it holds fewer bytes until done.
    return QFileInfo(path).size() == bytes.size() && FileSha256(path) == Sha256(bytes);
}

int SlotOf(const DownloadListState& list, const QString& url) {
    for (int slot = 1; slot <= list.DownloadCount && slot < list.DownloadList.size(); ++slot) {
        if (list.DownloadList[slot].Url == url) {
            return slot;
        }
    }
    return 0;
}

QString SlowLoggedLocation(const QString& prefix, const QString& root, qint64 bytesPerSecond,
                           const QString& log) {
    return QStringLiteral("location \"%1\" { alias \"%2/\"; limit_rate %3; access_log \"%4\"; }")
        .arg(prefix, root)
        .arg(bytesPerSecond)
        .arg(log);
}

qint64 LoggedBodyBytes(const QString& log, qint64 from) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from)) {
        return 0;
    }
    qint64 total = 0;
    // Combined format: ... "GET /path HTTP/1.1" status bytes "referer" "agent"
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> quoted = line.split('"');
        if (quoted.size() < 3) {
            continue;
        }
        const QList<QByteArray> numbers = quoted[2].simplified().split(' ');
        if (numbers.size() >= 2) {
            total += numbers[1].toLongLong();
        }
    }
    return total;
}

int OpenSockets(qint64 pid) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    int count = 0;
    for (const QString& name :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(name));
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 &&
            qstrncmp(target, "socket:", 7) == 0) {
            ++count;
        }
    }
    return count;
}
