#include "tests/support/nginx_peer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "tests/support/peer_process.h"

namespace {

const QString NginxProgram = QStringLiteral("/usr/sbin/nginx");

QString PeersFolder() {
    const QString folder = QStringLiteral(BRENLOFT_BINARY_DIR "/test-peers");
    QDir().mkpath(folder);
    return folder;
}

// A string argument of a directive, safe whatever blanks, quotes or ";" it holds.
QString Quoted(QString text) {
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u'"', QStringLiteral("\\\""));
    return u'"' + text + u'"';
}

// A location serving the root under `prefix`, with extra directives.
QString AliasLocation(const QString& root, const QString& prefix, const QString& directives) {
    return QStringLiteral("location %1 { alias %2; %3 }")
        .arg(Quoted(prefix), Quoted(root + u'/'), directives);
}

}  // namespace

NginxPeer::NginxPeer(QString root)
    : root_(QFileInfo(root).absoluteFilePath()),
      dir_(PeersFolder() + QStringLiteral("/nginx-XXXXXX")) {}

NginxPeer::~NginxPeer() {
    stop();
}

void NginxPeer::addLocation(const QString& snippet) {
    snippets_ << snippet;
}

void NginxPeer::addNoRangesLocation(const QString& prefix) {
    snippets_ << AliasLocation(root_, prefix, QStringLiteral("max_ranges 0;"));
}

void NginxPeer::addBasicAuthLocation(const QString& prefix, const QString& user,
                                     const QString& password) {
    const QString file = dir_.filePath(QStringLiteral("users-%1").arg(++passwordFiles_));
    QFile users(file);
    if (users.open(QIODevice::WriteOnly)) {
        users.write((user + QStringLiteral(":{PLAIN}") + password + u'\n').toUtf8());
    }
    snippets_ << AliasLocation(
        root_, prefix,
        QStringLiteral("auth_basic \"Brenloft test\"; auth_basic_user_file %1;").arg(Quoted(file)));
}

void NginxPeer::addRedirect(const QString& from, const QString& location, int status) {
    snippets_ << QStringLiteral("location = %1 { absolute_redirect off; return %2 %3; }")
                     .arg(Quoted(from))
                     .arg(status)
                     .arg(Quoted(location));
}

void NginxPeer::addContentDispositionLocation(const QString& prefix, const QString& value) {
    snippets_ << AliasLocation(
        root_, prefix,
        QStringLiteral("add_header Content-Disposition %1 always;").arg(Quoted(value)));
}

void NginxPeer::addRateLimitedLocation(const QString& prefix, std::int64_t bytesPerSecond) {
    snippets_ << AliasLocation(root_, prefix,
                               QStringLiteral("limit_rate %1;").arg(qlonglong(bytesPerSecond)));
}

QString NginxPeer::configuration() const {
    const QString d = dir_.path();
    QString c;
    c += QStringLiteral("daemon off;\nmaster_process off;\nworker_processes 1;\n");
    c += QStringLiteral("pid %1;\n").arg(Quoted(d + QStringLiteral("/nginx.pid")));
    c += QStringLiteral("error_log %1 warn;\n").arg(Quoted(d + QStringLiteral("/error.log")));
    c += QStringLiteral("events { worker_connections 1024; }\nhttp {\n");
    c += QStringLiteral("    access_log off;\n");
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        c += QStringLiteral("    %1_temp_path %2;\n")
                 .arg(QLatin1String(temp), Quoted(d + u'/' + QLatin1String(temp)));
    }
    // Enough types for a download client to tell a page from a file.
    c += QStringLiteral(
        "    types { text/html html htm; text/plain txt; application/zip zip; }\n"
        "    default_type application/octet-stream;\n"
        "    sendfile on;\n"
        "    keepalive_requests 100000;\n");
    c += QStringLiteral("    server {\n        listen 127.0.0.1:%1;\n").arg(port_);
    c += QStringLiteral("        root %1;\n").arg(Quoted(root_));
    for (const QString& s : snippets_) {
        c += QStringLiteral("        ") + s + u'\n';
    }
    c += QStringLiteral("    }\n}\n");
    return c;
}

bool NginxPeer::start() {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no folder for nginx: ") + dir_.errorString();
        return false;
    }
    if (!QFileInfo(NginxProgram).isExecutable()) {
        error_ = NginxProgram + QStringLiteral(" is not installed");
        return false;
    }
    // The free port can be taken by someone else before nginx binds it; then try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce()) {
            return true;
        }
        if (!error().contains(QStringLiteral("Address already in use"))) {
            break;
        }
    }
    return false;
}

bool NginxPeer::startOnce() {
    stop();
    port_ = FreeLoopbackPort();
    const QString config = dir_.filePath(QStringLiteral("nginx.conf"));
    QFile file(config);
    if (port_ == 0 || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(configuration().toUtf8()) < 0 || !file.flush()) {
        error_ = QStringLiteral("cannot write ") + config;
        return false;
    }
    file.close();
    QFile::remove(dir_.filePath(QStringLiteral("error.log")));

    process_ = std::make_unique<PeerProcess>();
    const QStringList arguments{QStringLiteral("-p"), dir_.path() + u'/',
                                QStringLiteral("-e"), dir_.filePath(QStringLiteral("error.log")),
                                QStringLiteral("-c"), config};
    if (!process_->start(NginxProgram, arguments)) {
        error_ = QStringLiteral("nginx did not start: ") + process_->error();
        process_.reset();
        return false;
    }
    if (!WaitUntilServing(process_->pid(), [this] { return LoopbackPortAccepts(port_); })) {
        error_ = QStringLiteral("nginx did not come up on port %1").arg(port_);
        stop();
        return false;
    }
    error_.clear();
    return true;
}

void NginxPeer::stop() {
    if (process_) {
        process_->stop();
        process_.reset();
    }
}

qint64 NginxPeer::pid() const {
    return process_ ? process_->pid() : 0;
}

QString NginxPeer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2")
        .arg(port_)
        .arg(path.startsWith(u'/') ? path : u'/' + path);
}

QString NginxPeer::error() const {
    QFile log(dir_.filePath(QStringLiteral("error.log")));
    QString text = error_;
    if (log.open(QIODevice::ReadOnly)) {
        text += u'\n' + QString::fromUtf8(log.readAll());
    }
    return text;
}
