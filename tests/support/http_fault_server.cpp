#include "tests/support/http_fault_server.h"

#include <QCryptographicHash>

HttpFaultServer::HttpFaultServer(QString root, qsizetype faultBytes)
    : ServedPeer(
          {"the HTTP fault server", "/usr/bin/python3", "python3", "http-faults", "http", {}}),
      root_(std::move(root)),
      faultBytes_(faultBytes) {}

bool HttpFaultServer::start(const QString& log) {
    stop();
    QStringList arguments{QStringLiteral(BRENLOFT_SOURCE_DIR "/tests/support/http_fault_server.py"),
                          QStringLiteral("--log"), log, QStringLiteral("--fault-bytes"),
                          QString::number(faultBytes_)};
    if (!root_.isEmpty()) {
        arguments << QStringLiteral("--root") << root_;
    }
    if (!tls_.isEmpty()) {
        arguments << QStringLiteral("--tls") << tls_;
    }
    if (!mode_.isEmpty()) {
        arguments << QStringLiteral("--mode") << mode_;
    }
    if (maxConnections_ > 0) {
        arguments << QStringLiteral("--max-connections") << QString::number(maxConnections_);
    }
    return installed() && launch(QStringLiteral("/usr/bin/python3"), arguments);
}

void HttpFaultServer::setTls(const QString& certificateFile, const QString& keyFile) {
    tls_ = {certificateFile, keyFile};
    setScheme(QStringLiteral("https"));
}

QString HttpFaultServer::url(const QString& mode, qsizetype size, const QString& name) const {
    return url(QStringLiteral("/%1/%2/%3").arg(mode).arg(size).arg(name));
}

QByteArray HttpFaultServer::Body(const QString& mode, qsizetype size) {
    const QByteArray key = QStringLiteral("%1/%2").arg(mode).arg(size).toUtf8();
    QByteArray out;
    out.reserve(size + 32);
    for (qsizetype i = 0; out.size() < size; ++i) {
        out +=
            QCryptographicHash::hash(key + ':' + QByteArray::number(i), QCryptographicHash::Sha256);
    }
    out.truncate(size);
    return out;
}
