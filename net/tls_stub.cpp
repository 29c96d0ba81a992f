// Stands in for the socket layer's TLS until it lands: TLS is never switched on, so no
// handshake is ever attempted.
#include "net/socket_class.h"

void SocketClass::SetTls(const QString& serverName) {
    Q_UNUSED(serverName);
}

QString SocketClass::TlsProblem() const {
    return QStringLiteral("TLS is not built yet");
}
