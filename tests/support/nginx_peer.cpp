#include "tests/support/nginx_peer.h"

#include <QFile>
#include <QFileInfo>

#include "tests/support/peer_process.h"

namespace {

const QString NginxProgram = QStringLiteral("/usr/sbin/nginx");

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

QStringList LogLines(const QString& file) {
    QFile log(file);
    if (!log.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

}  // namespace

NginxPeer::NginxPeer(QString root)
    : ServedPeer({"nginx", NginxProgram, "nginx", "nginx", "http", {"error.log"}}),
      root_(QFileInfo(root).absoluteFilePath()) {}

void NginxPeer::addLocation(const QString& snippet) {
    snippets_ << snippet;
}

void NginxPeer::addNoRangesLocation(const QString& prefix) {
    snippets_ << AliasLocation(root_, prefix, QStringLiteral("max_ranges 0;"));
}

void NginxPeer::addBasicAuthLocation(const QString& prefix, const QString& user,
                                     const QString& password) {
    const QString file = inFolder(QStringLiteral("users-%1").arg(++passwordFiles_));
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

void NginxPeer::setTls(const QString& certificateFile, const QString& keyFile,
                       const QString& protocols) {
    tlsCertificate_ = QFileInfo(certificateFile).absoluteFilePath();
    tlsKey_ = QFileInfo(keyFile).absoluteFilePath();
    tlsProtocols_ = protocols;
    setScheme(QStringLiteral("https"));
}

QStringList NginxPeer::tlsLog() const {
    return LogLines(inFolder(QStringLiteral("tls.log")));
}

QStringList NginxPeer::accessLog() const {
    return LogLines(inFolder(QStringLiteral("access.log")));
}

QList<NginxPeer::LoggedRequest> NginxPeer::headerLog() const {
    QList<LoggedRequest> requests;
    for (const QString& line : LogLines(inFolder(QStringLiteral("headers.log")))) {
        QStringList fields = line.split(u'\t');
        if (fields.size() != 9) {
            continue;
        }
        for (QString& field : fields) {
            if (field == u"-") {
                field.clear();
            }
        }
        requests.append({fields[0].toInt(), fields[1].toLongLong(), fields[2], fields[3], fields[4],
                         fields[5], fields[6], fields[7], fields[8]});
    }
    return requests;
}

QString NginxPeer::configuration() const {
    const QString d = folder();
    QString c;
    c += QStringLiteral("daemon off;\nmaster_process off;\nworker_processes 1;\n");
    c += QStringLiteral("pid %1;\n").arg(Quoted(d + QStringLiteral("/nginx.pid")));
    c += QStringLiteral("error_log %1 warn;\n").arg(Quoted(d + QStringLiteral("/error.log")));
    c += QStringLiteral("events { worker_connections 1024; }\nhttp {\n");
    if (logRequests_) {
        c += QStringLiteral(
            "    log_format ranges '$status $body_bytes_sent \"$http_range\" \"$request\"';\n");
        c += QStringLiteral("    access_log %1 ranges;\n")
                 .arg(Quoted(d + QStringLiteral("/access.log")));
    }
    if (logHeaders_) {
        // Tabs inside a value are logged as "\x09", so they cannot be taken for separators.
        c += QStringLiteral(
            "    log_format headers '$status\t$body_bytes_sent\t$http_host\t$http_range\t"
            "$http_referer\t$http_cookie\t$http_user_agent\t$request\t$http_authorization';\n");
        c += QStringLiteral("    access_log %1 headers;\n")
                 .arg(Quoted(d + QStringLiteral("/headers.log")));
    }
    if (tlsCertificate_.isEmpty()) {
        if (!logRequests_ && !logHeaders_) {
            c += QStringLiteral("    access_log off;\n");
        }
    } else {
        c += QStringLiteral("    log_format tls '$ssl_session_reused $request';\n");
        c += QStringLiteral("    access_log %1 tls;\n").arg(Quoted(d + QStringLiteral("/tls.log")));
    }
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
    const QString ssl = tlsCertificate_.isEmpty() ? QString() : QStringLiteral(" ssl");
    c += QStringLiteral("    server {\n        listen 127.0.0.1:%1%2;\n").arg(port_).arg(ssl);
    for (const QString& address : addresses_) {
        c += QStringLiteral("        listen %1:%2%3;\n").arg(address).arg(port_).arg(ssl);
    }
    if (ipv6_) {
        c += QStringLiteral("        listen [::1]:%1%2;\n").arg(port_).arg(ssl);
    }
    if (!tlsCertificate_.isEmpty()) {
        c += QStringLiteral(
                 "        ssl_certificate %1;\n        ssl_certificate_key %2;\n"
                 "        ssl_protocols %3;\n")
                 .arg(Quoted(tlsCertificate_), Quoted(tlsKey_), tlsProtocols_);
    }
    c += QStringLiteral("        root %1;\n").arg(Quoted(root_));
    for (const QString& s : snippets_) {
        c += QStringLiteral("        ") + s + u'\n';
    }
    c += QStringLiteral("    }\n}\n");
    return c;
}

bool NginxPeer::start() {
    return installed() &&
           retryOnClash([this] { return startOnce(); }, QStringLiteral("Address already in use"));
}

bool NginxPeer::startOnce() {
    stop();
    port_ = FreeLoopbackPort();
    QFile::remove(inFolder(QStringLiteral("error.log")));
    const QString config = inFolder(QStringLiteral("nginx.conf"));
    return writeFile(QStringLiteral("nginx.conf"), configuration().toUtf8()) &&
           launch(NginxProgram,
                  {QStringLiteral("-p"), folder() + u'/', QStringLiteral("-e"),
                   inFolder(QStringLiteral("error.log")), QStringLiteral("-c"), config},
                  [this] { return LoopbackPortAccepts(port_); });
}
