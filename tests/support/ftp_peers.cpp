#include "tests/support/ftp_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QThread>
#include <QUrl>

#include "tests/support/peer_process.h"

namespace {

const QString PythonProgram = QStringLiteral("/usr/bin/python3");
const QString VsftpdProgram = QStringLiteral("/usr/sbin/vsftpd");
const QString FtpServerScript = QStringLiteral(BRENLOFT_SOURCE_DIR "/tests/support/ftp_server.py");

QString PeersFolder() {
    const QString folder = QStringLiteral(BRENLOFT_BINARY_DIR "/test-peers");
    QDir().mkpath(folder);
    return folder;
}

QString FtpUrl(int port, const QString& userInfo, const QString& path) {
    return QStringLiteral("ftp://") + userInfo + QStringLiteral("127.0.0.1:") +
           QString::number(port) + (path.startsWith(u'/') ? path : u'/' + path);
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every process below `pid`, read from the process table (the command name in stat may hold
// blanks and parentheses, so the fields are counted from the last ")").
std::vector<qint64> Descendants(qint64 pid) {
    QHash<qint64, std::vector<qint64>> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 child = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1) {
            children[fields[1].toLongLong()].push_back(child);
        }
    }
    std::vector<qint64> found;
    std::vector<qint64> pending{pid};
    while (!pending.empty()) {
        const qint64 parent = pending.back();
        pending.pop_back();
        for (qint64 child : children.value(parent)) {
            found.push_back(child);
            pending.push_back(child);
        }
    }
    return found;
}

// Whether a socket listens on 127.0.0.1:port, read from the kernel's table. Connecting to find
// out would start a session that counts against a per-address limit until it ends.
bool LoopbackListens(int port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray local =
        QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    // Read whole: a /proc file has no size, so QFile::atEnd() holds from the start.
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A") {
            return true;
        }
    }
    return false;
}

bool LoopbackPortBindable(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// The first of `count` ports that are free now, below the kernel's ephemeral range (from
// 32768) so that outgoing connections do not take them meanwhile.
int FreePassiveRange(int count) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int first = QRandomGenerator::global()->bounded(20000, 32768 - count);
        bool free = true;
        for (int port = first; free && port < first + count; ++port) {
            free = LoopbackPortBindable(port);
        }
        if (free) {
            return first;
        }
    }
    return 0;
}

// Why vsftpd's ftp user could not serve the tree, or empty when it can.
QString UnservableByFtpUser(const QString& root) {
    const QFileInfo top(root);
    if (!top.isDir()) {
        return root + QStringLiteral(" is not a folder");
    }
    if (top.permissions() & QFile::WriteOther) {
        return root + QStringLiteral(" is writable by others; vsftpd refuses to chroot into it");
    }
    const auto readable = [](const QFileInfo& info) {
        const QFile::Permissions need =
            info.isDir() ? (QFile::ReadOther | QFile::ExeOther) : QFile::ReadOther;
        return (info.permissions() & need) == need;
    };
    const QString advice = QStringLiteral(
        " is not readable by others; vsftpd reads the files as its ftp user (folders 0755, "
        "files 0644; a QTemporaryDir is 0700)");
    if (!readable(top)) {
        return root + advice;
    }
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (!info.isSymLink() && !readable(info)) {
            return info.filePath() + advice;
        }
    }
    return {};
}

}  // namespace

// ---------------------------------------------------------------------------------------------

PyFtpPeer::PyFtpPeer(QString root)
    : root_(root.isEmpty() ? QString() : QFileInfo(root).absoluteFilePath()),
      dir_(PeersFolder() + QStringLiteral("/pyftpd-XXXXXX")) {}

PyFtpPeer::~PyFtpPeer() {
    stop();
}

void PyFtpPeer::addUser(const QString& name, const QString& password, const QString& home) {
    users_.push_back({name, password, QFileInfo(home).absoluteFilePath()});
}

void PyFtpPeer::setMaxSessionsPerAddress(int n) {
    maxSessionsPerAddress_ = n;
}

void PyFtpPeer::refuseRest() {
    refuseRest_ = true;
}

void PyFtpPeer::setPassiveAddress(const QString& address) {
    passiveAddress_ = address;
}

void PyFtpPeer::setMultiLineGreeting(bool on) {
    multiLineGreeting_ = on;
}

void PyFtpPeer::setMultiLineLogin(bool on) {
    multiLineLogin_ = on;
}

void PyFtpPeer::setRateLimit(std::int64_t bytesPerSecond) {
    rateLimit_ = bytesPerSecond;
}

void PyFtpPeer::cutFirstRestartedTransferAfter(std::int64_t bytes) {
    cutAfter_ = bytes;
}

void PyFtpPeer::abortFirstTransferAfter(std::int64_t bytes) {
    abortAfter_ = bytes;
}

void PyFtpPeer::setSizeReply(const QString& text) {
    sizeReply_ = text;
}

void PyFtpPeer::setRepliesByteByByte(bool on) {
    repliesByteByByte_ = on;
}

bool PyFtpPeer::start() {
    stop();
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no folder for the FTP server: ") + dir_.errorString();
        return false;
    }
    if (!QFileInfo(PythonProgram).isExecutable()) {
        error_ = PythonProgram + QStringLiteral(" is not installed");
        return false;
    }
    // The port comes from the server itself (it binds port 0), so no other program can take
    // it between choosing and binding.
    QStringList arguments{FtpServerScript, QStringLiteral("--port"), QStringLiteral("0"),
                          QStringLiteral("--log"), dir_.filePath(QStringLiteral("server.log"))};
    if (!root_.isEmpty()) {
        arguments << QStringLiteral("--root") << root_;
    }
    if (!users_.empty()) {
        QJsonArray users;
        for (const User& u : users_) {
            users.append(QJsonObject{{QStringLiteral("name"), u.name},
                                     {QStringLiteral("password"), u.password},
                                     {QStringLiteral("home"), u.home}});
        }
        const QString path = dir_.filePath(QStringLiteral("users.json"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(QJsonDocument(users).toJson()) < 0 || !file.flush()) {
            error_ = QStringLiteral("cannot write ") + path;
            return false;
        }
        arguments << QStringLiteral("--users") << path;
    }
    if (maxSessionsPerAddress_ > 0) {
        arguments << QStringLiteral("--max-sessions-per-address")
                  << QString::number(maxSessionsPerAddress_);
    }
    if (refuseRest_) {
        arguments << QStringLiteral("--refuse-rest");
    }
    if (!passiveAddress_.isEmpty()) {
        arguments << QStringLiteral("--passive-address") << passiveAddress_;
    }
    if (multiLineGreeting_) {
        arguments << QStringLiteral("--multi-line-greeting");
    }
    if (multiLineLogin_) {
        arguments << QStringLiteral("--multi-line-login");
    }
    if (rateLimit_ > 0) {
        arguments << QStringLiteral("--rate-limit") << QString::number(rateLimit_);
    }
    if (cutAfter_ > 0) {
        arguments << QStringLiteral("--cut-first-restarted-transfer-after")
                  << QString::number(cutAfter_);
    }
    if (abortAfter_ > 0) {
        arguments << QStringLiteral("--abort-first-transfer-after") << QString::number(abortAfter_);
    }
    if (!sizeReply_.isEmpty()) {
        arguments << QStringLiteral("--size-reply") << sizeReply_;
    }
    if (repliesByteByByte_) {
        arguments << QStringLiteral("--replies-byte-by-byte");
    }

    process_ = std::make_unique<PeerProcess>();
    if (!process_->start(PythonProgram, arguments)) {
        error_ = QStringLiteral("the FTP server did not start: ") + process_->error();
        process_.reset();
        return false;
    }
    bool number = false;
    port_ = process_->firstLine().toInt(&number);
    if (!number || port_ <= 0) {
        error_ = QStringLiteral("the FTP server announced no port\n") +
                 QString::fromUtf8(process_->errorOutput());
        stop();
        port_ = 0;
        return false;
    }
    error_.clear();
    return true;
}

void PyFtpPeer::stop() {
    if (process_) {
        process_->stop();
        process_.reset();
    }
}

qint64 PyFtpPeer::pid() const {
    return process_ ? process_->pid() : 0;
}

QString PyFtpPeer::url(const QString& path) const {
    return FtpUrl(port_, {}, path);
}

QString PyFtpPeer::url(const QString& user, const QString& password, const QString& path) const {
    return FtpUrl(port_,
                  QString::fromLatin1(QUrl::toPercentEncoding(user) + ':' +
                                      QUrl::toPercentEncoding(password) + '@'),
                  path);
}

QString PyFtpPeer::error() const {
    return error_ + u'\n' + ReadText(dir_.filePath(QStringLiteral("server.log")));
}

// ---------------------------------------------------------------------------------------------

namespace {

constexpr int PassivePorts = 32;

}  // namespace

VsftpdPeer::VsftpdPeer(QString root)
    : root_(QFileInfo(root).absoluteFilePath()),
      dir_(PeersFolder() + QStringLiteral("/vsftpd-XXXXXX")) {}

VsftpdPeer::~VsftpdPeer() {
    stop();
}

void VsftpdPeer::setMaxSessionsPerAddress(int n) {
    maxSessionsPerAddress_ = n;
}

void VsftpdPeer::setRateLimit(std::int64_t bytesPerSecond) {
    rateLimit_ = bytesPerSecond;
}

// vsftpd takes each line as "option=value" to its end: no quoting, and a blank after YES makes
// it a "bad bool value". Paths with a line break cannot be said at all (start() refuses them).
QString VsftpdPeer::configuration() const {
    const QString d = dir_.path();
    QStringList c{
        // Standalone and IPv4 only: listen and listen_ipv6 together are refused, and
        // background=NO keeps the listener the process that was started.
        QStringLiteral("listen=YES"),
        QStringLiteral("listen_ipv6=NO"),
        QStringLiteral("listen_address=127.0.0.1"),
        QStringLiteral("listen_port=%1").arg(port_),
        QStringLiteral("background=NO"),
        QStringLiteral("anonymous_enable=YES"),
        QStringLiteral("no_anon_password=YES"),
        QStringLiteral("anon_root=") + root_,
        QStringLiteral("local_enable=NO"),
        QStringLiteral("write_enable=NO"),
        QStringLiteral("pasv_enable=YES"),
        QStringLiteral("pasv_address=127.0.0.1"),
        QStringLiteral("pasv_min_port=%1").arg(passiveMin_),
        QStringLiteral("pasv_max_port=%1").arg(passiveMax_),
        QStringLiteral("connect_from_port_20=NO"),
        // The users vsftpd drops to; both must exist (the package creates ftp).
        QStringLiteral("ftp_username=ftp"),
        QStringLiteral("nopriv_user=nobody"),
        // Its seccomp filter kills sessions on system calls newer than vsftpd ("500 OOPS:
        // child died") on some kernels and C libraries.
        QStringLiteral("seccomp_sandbox=NO"),
        // An empty folder not writable by the ftp user; the default one exists only where
        // the package's service ran.
        QStringLiteral("secure_chroot_dir=") + d + QStringLiteral("/empty"),
        // Without dual_log_enable only one of the two logs is written.
        QStringLiteral("xferlog_enable=YES"),
        QStringLiteral("dual_log_enable=YES"),
        QStringLiteral("xferlog_file=") + d + QStringLiteral("/xferlog"),
        QStringLiteral("vsftpd_log_file=") + d + QStringLiteral("/vsftpd.log"),
        QStringLiteral("log_ftp_protocol=YES"),
        QStringLiteral("syslog_enable=NO"),
    };
    if (maxSessionsPerAddress_ > 0) {
        c << QStringLiteral("max_per_ip=%1").arg(maxSessionsPerAddress_);
    }
    if (rateLimit_ > 0) {
        c << QStringLiteral("anon_max_rate=%1").arg(qlonglong(rateLimit_));
    }
    return c.join(u'\n') + u'\n';
}

bool VsftpdPeer::start() {
    stop();
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no folder for vsftpd: ") + dir_.errorString();
        return false;
    }
    if (!QFileInfo(VsftpdProgram).isExecutable()) {
        error_ = VsftpdProgram + QStringLiteral(" is not installed (Debian package vsftpd)");
        return false;
    }
    // It chroots and changes user for every session, which only root may do.
    if (::geteuid() != 0) {
        error_ = QStringLiteral("vsftpd runs only as root here");
        return false;
    }
    for (const char* user : {"ftp", "nobody"}) {
        if (::getpwnam(user) == nullptr) {
            error_ = QStringLiteral("vsftpd needs the user %1").arg(QLatin1String(user));
            return false;
        }
    }
    if (root_.contains(u'\n') || dir_.path().contains(u'\n')) {
        error_ = QStringLiteral("vsftpd cannot be given a path with a line break");
        return false;
    }
    error_ = UnservableByFtpUser(root_);
    if (!error_.isEmpty()) {
        return false;
    }
    // The chroot for its unprivileged helpers: empty, owned by root, not writable by others.
    const QString empty = dir_.filePath(QStringLiteral("empty"));
    if (!QDir().mkpath(empty) ||
        !QFile::setPermissions(empty, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::ExeOther)) {
        error_ = QStringLiteral("cannot make ") + empty;
        return false;
    }
    // The free ports can be taken by someone else before vsftpd binds them; then try others.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce()) {
            return true;
        }
        if (!error().contains(QStringLiteral("could not bind"))) {
            break;
        }
    }
    return false;
}

bool VsftpdPeer::startOnce() {
    stop();
    port_ = FreeLoopbackPort();
    passiveMin_ = FreePassiveRange(PassivePorts);
    passiveMax_ = passiveMin_ + PassivePorts - 1;
    // vsftpd wants its configuration file owned by the user that starts it (root here): one
    // written by this process is.
    const QString config = dir_.filePath(QStringLiteral("vsftpd.conf"));
    QFile file(config);
    if (port_ == 0 || passiveMin_ == 0 || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(configuration().toUtf8()) < 0 || !file.flush()) {
        error_ = QStringLiteral("cannot write ") + config;
        return false;
    }
    file.close();
    const QString complaint = dir_.filePath(QStringLiteral("startup.txt"));
    QFile::remove(complaint);

    // vsftpd takes its standard input for the control connection and writes why it cannot
    // start ("500 OOPS: ...") there, not to stderr: so standard input is a file opened for
    // writing. The shell execs vsftpd, so the pid started is the listener's.
    process_ = std::make_unique<PeerProcess>();
    const QStringList arguments{QStringLiteral("-c"),
                                QStringLiteral("exec \"$0\" \"$1\" 0<>\"$2\""), VsftpdProgram,
                                config, complaint};
    if (!process_->start(QStringLiteral("/bin/sh"), arguments)) {
        error_ = QStringLiteral("vsftpd did not start: ") + process_->error();
        process_.reset();
        return false;
    }
    if (!WaitUntilServing(process_->pid(), [this] { return LoopbackListens(port_); })) {
        error_ = QStringLiteral("vsftpd did not come up on port %1").arg(port_);
        stop();
        return false;
    }
    error_.clear();
    return true;
}

void VsftpdPeer::stop() {
    if (!process_) {
        return;
    }
    const qint64 listener = process_->pid();
    std::vector<qint64> sessions;
    if (ProcessAlive(listener)) {
        // Stopped, the listener forks no new session while its sessions are collected; the
        // SIGTERM waits for SIGCONT and ends it before it runs again.
        ::kill(static_cast<pid_t>(listener), SIGSTOP);
        sessions = Descendants(listener);
        for (qint64 session : sessions) {
            ::kill(static_cast<pid_t>(session), SIGTERM);
        }
        ::kill(static_cast<pid_t>(listener), SIGTERM);
        ::kill(static_cast<pid_t>(listener), SIGCONT);
    }
    process_->stop();
    process_.reset();
    QDeadlineTimer deadline(5000);
    for (qint64 session : sessions) {
        while (ProcessAlive(session) && !deadline.hasExpired()) {
            QThread::msleep(5);
        }
        if (ProcessAlive(session)) {
            ::kill(static_cast<pid_t>(session), SIGKILL);
        }
    }
}

qint64 VsftpdPeer::pid() const {
    return process_ ? process_->pid() : 0;
}

QString VsftpdPeer::url(const QString& path) const {
    return FtpUrl(port_, {}, path);
}

QString VsftpdPeer::error() const {
    QString text = error_;
    for (const char* name : {"startup.txt", "vsftpd.log"}) {
        const QString more = ReadText(dir_.filePath(QLatin1String(name)));
        if (!more.isEmpty()) {
            text += u'\n' + more;
        }
    }
    return text;
}
