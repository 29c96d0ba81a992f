#include "tests/support/ftp_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrl>

#include "tests/support/peer_process.h"

namespace {

const QString PythonProgram = QStringLiteral("/usr/bin/python3");
const QString VsftpdProgram = QStringLiteral("/usr/sbin/vsftpd");
const QString FtpServerScript = QStringLiteral(BRENLOFT_SOURCE_DIR "/tests/support/ftp_server.py");
constexpr int PassivePorts = 32;

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
    : ServedPeer(
          {"the FTP server", PythonProgram, "python3-pyftpdlib", "pyftpd", "ftp", {"server.log"}}),
      root_(root.isEmpty() ? QString() : QFileInfo(root).absoluteFilePath()) {}

void PyFtpPeer::addUser(const QString& name, const QString& password, const QString& home) {
    users_.push_back({name, password, QFileInfo(home).absoluteFilePath()});
}

bool PyFtpPeer::start() {
    stop();
    if (!installed()) {
        return false;
    }
    // The port comes from the server itself (it binds port 0), so no other program can take
    // it between choosing and binding.
    QStringList arguments{FtpServerScript, QStringLiteral("--port"), QStringLiteral("0"),
                          QStringLiteral("--log"), inFolder(QStringLiteral("server.log"))};
    const auto text = [&](const char* option, const QString& value) {
        if (!value.isEmpty()) {
            arguments << QLatin1String(option) << value;
        }
    };
    const auto number = [&](const char* option, std::int64_t value) {
        text(option, value > 0 ? QString::number(value) : QString());
    };
    const auto flag = [&](const char* option, bool on) {
        if (on) {
            arguments << QLatin1String(option);
        }
    };
    text("--root", root_);
    if (!users_.empty()) {
        QJsonArray users;
        for (const User& u : users_) {
            users.append(QJsonObject{{QStringLiteral("name"), u.name},
                                     {QStringLiteral("password"), u.password},
                                     {QStringLiteral("home"), u.home}});
        }
        if (!writeFile(QStringLiteral("users.json"), QJsonDocument(users).toJson())) {
            return false;
        }
        text("--users", inFolder(QStringLiteral("users.json")));
    }
    number("--max-sessions-per-address", maxSessionsPerAddress_);
    flag("--refuse-rest", refuseRest_);
    text("--passive-address", passiveAddress_);
    flag("--multi-line-greeting", multiLineGreeting_);
    flag("--multi-line-login", multiLineLogin_);
    number("--rate-limit", rateLimit_);
    number("--cut-first-restarted-transfer-after", cutAfter_);
    number("--abort-first-transfer-after", abortAfter_);
    text("--size-reply", sizeReply_);
    flag("--replies-byte-by-byte", repliesByteByByte_);
    flag("--ipv6", ipv6_);
    if (!turnAway_.isEmpty()) {
        arguments << QStringLiteral("--turn-away") << turnAway_;
    }
    return launch(PythonProgram, arguments);
}

QString PyFtpPeer::url(const QString& user, const QString& password, const QString& path) const {
    return urlWith(QString::fromLatin1(QUrl::toPercentEncoding(user) + ':' +
                                       QUrl::toPercentEncoding(password) + '@'),
                   path);
}

// ---------------------------------------------------------------------------------------------

VsftpdPeer::VsftpdPeer(QString root)
    : ServedPeer(
          {"vsftpd", VsftpdProgram, "vsftpd", "vsftpd", "ftp", {"startup.txt", "vsftpd.log"}}),
      root_(QFileInfo(root).absoluteFilePath()) {}

VsftpdPeer::~VsftpdPeer() {
    stop();  // here, where its sessions are still ended with it
}

// vsftpd takes each line as "option=value" to its end: no quoting, and a blank after YES makes
// it a "bad bool value". Paths with a line break cannot be said at all (start() refuses them).
QString VsftpdPeer::configuration() const {
    const QString d = folder();
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
    if (!installed()) {
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
    if (root_.contains(u'\n') || folder().contains(u'\n')) {
        error_ = QStringLiteral("vsftpd cannot be given a path with a line break");
        return false;
    }
    error_ = UnservableByFtpUser(root_);
    if (!error_.isEmpty()) {
        return false;
    }
    // The chroot for its unprivileged helpers: empty, owned by root, not writable by others.
    const QString empty = inFolder(QStringLiteral("empty"));
    if (!QDir().mkpath(empty) ||
        !QFile::setPermissions(empty, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::ExeOther)) {
        error_ = QStringLiteral("cannot make ") + empty;
        return false;
    }
    return retryOnClash([this] { return startOnce(); }, QStringLiteral("could not bind"));
}

bool VsftpdPeer::startOnce() {
    stop();
    port_ = FreeLoopbackPort();
    passiveMin_ = FreePassiveRange(PassivePorts);
    passiveMax_ = passiveMin_ + PassivePorts - 1;
    if (passiveMin_ == 0) {
        error_ = QStringLiteral("no free passive ports for vsftpd");
        return false;
    }
    QFile::remove(inFolder(QStringLiteral("startup.txt")));
    // vsftpd wants its configuration file owned by the user that starts it (root here): one
    // written by this process is. It takes its standard input for the control connection and
    // writes why it cannot start ("500 OOPS: ...") there, not to stderr: so standard input is
    // a file opened for writing. The shell execs vsftpd, so the pid started is the listener's.
    return writeFile(QStringLiteral("vsftpd.conf"), configuration().toUtf8()) &&
           launch(
               QStringLiteral("/bin/sh"),
               {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$1\" 0<>\"$2\""), VsftpdProgram,
                inFolder(QStringLiteral("vsftpd.conf")), inFolder(QStringLiteral("startup.txt"))},
               [this] { return LoopbackListens(port_); });
}

// Stopped, the listener forks no new session while its sessions are collected; the SIGTERM
// waits for SIGCONT and ends it before it runs again.
std::vector<qint64> VsftpdPeer::endChildren(qint64 listener) {
    if (!ProcessAlive(listener)) {
        return {};
    }
    ::kill(static_cast<pid_t>(listener), SIGSTOP);
    const std::vector<qint64> sessions = Descendants(listener);
    for (qint64 session : sessions) {
        ::kill(static_cast<pid_t>(session), SIGTERM);
    }
    ::kill(static_cast<pid_t>(listener), SIGTERM);
    ::kill(static_cast<pid_t>(listener), SIGCONT);
    return sessions;
}
