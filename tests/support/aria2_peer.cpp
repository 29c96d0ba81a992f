#include "tests/support/aria2_peer.h"

#include <QCoreApplication>

#include "tests/support/peer_process.h"

namespace {

const QString Aria2Program = QStringLiteral("/usr/bin/aria2c");

}  // namespace

Aria2Peer::Aria2Peer() : ServedPeer({"aria2c", Aria2Program, "aria2", "aria2", "http", {}}) {}

bool Aria2Peer::start(const QStringList& options) {
    return installed() && retryOnClash([this, options] { return startOnce(options); },
                                       QStringLiteral("Failed to bind"));
}

bool Aria2Peer::startOnce(const QStringList& options) {
    stop();
    port_ = FreeLoopbackPort();
    const QStringList arguments =
        QStringList{
            QStringLiteral("--no-conf"),
            QStringLiteral("--quiet"),
            QStringLiteral("--enable-rpc"),
            QStringLiteral("--rpc-listen-port=%1").arg(port_),
            QStringLiteral("--dir=%1").arg(folder()),
            QStringLiteral("--stop-with-process=%1").arg(QCoreApplication::applicationPid())} +
        options;
    return launch(Aria2Program, arguments, [this] { return LoopbackPortAccepts(port_); });
}
