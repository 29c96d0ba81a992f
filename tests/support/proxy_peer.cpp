#include "tests/support/proxy_peer.h"

#include <QFile>

#include "tests/support/peer_process.h"

namespace {

const QString TinyproxyProgram = QStringLiteral("/usr/bin/tinyproxy");

}  // namespace

ProxyPeer::ProxyPeer()
    : ServedPeer({"tinyproxy", TinyproxyProgram, "tinyproxy", "tinyproxy", "http", {"proxy.log"}}) {
}

bool ProxyPeer::start() {
    return installed() &&
           retryOnClash([this] { return startOnce(); }, QStringLiteral("Address already in use"));
}

bool ProxyPeer::startOnce() {
    stop();
    port_ = FreeLoopbackPort();
    const QString log = inFolder(QStringLiteral("proxy.log"));
    QFile::remove(log);
    QString config = QStringLiteral(
                         "Port %1\nListen 127.0.0.1\nTimeout 60\nMaxClients 64\n"
                         "LogLevel Info\nLogFile \"%2\"\nDisableViaHeader Yes\n")
                         .arg(port_)
                         .arg(log);
    if (!login_.isEmpty()) {
        config += QStringLiteral("BasicAuth %1\n").arg(login_);
    }
    for (const int allowed : connectPorts_) {
        config += QStringLiteral("ConnectPort %1\n").arg(allowed);
    }
    const QString file = inFolder(QStringLiteral("tinyproxy.conf"));
    // -d: in the foreground, so that its pid is the one to stop.
    return writeFile(QStringLiteral("tinyproxy.conf"), config.toUtf8()) &&
           launch(TinyproxyProgram, {QStringLiteral("-d"), QStringLiteral("-c"), file},
                  [this] { return LoopbackPortAccepts(port_); });
}
