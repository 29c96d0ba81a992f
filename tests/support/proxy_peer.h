#pragma once

#include <QList>
#include <QString>

#include "tests/support/served_peer.h"

// A real HTTP proxy for a test: tinyproxy on 127.0.0.1 and a free port, in the foreground, with
// its configuration and log in a folder of its own. It forwards plain requests that name an
// absolute address, and opens CONNECT tunnels to the ports allowed (every port by default).
class ProxyPeer : public ServedPeer {
public:
    ProxyPeer();

    // CONNECT is allowed to these ports only; to any other the proxy answers 403. Before start().
    void allowConnectPorts(const QList<int>& ports) { connectPorts_ = ports; }
    // Every request must carry this login (BasicAuth); others are answered 407. Before start().
    void requireLogin(const QString& user, const QString& password) {
        login_ = user + u' ' + password;
    }

    // Writes the configuration, starts tinyproxy and waits until it accepts connections; false
    // with the reason in error() (followed by its log) when it does not come up.
    bool start();
    // "127.0.0.1:<port>", as brenloft-get's --proxy takes it.
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

private:
    bool startOnce();

    QList<int> connectPorts_;
    QString login_;
};
