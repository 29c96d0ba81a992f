#pragma once

#include <QStringList>

#include "tests/support/served_peer.h"

// The reference for the remote control: Debian's aria2c with its JSON-RPC server on 127.0.0.1
// and a free port, downloading into its own folder, ending with the test's process at worst.
class Aria2Peer : public ServedPeer {
public:
    Aria2Peer();

    // Starts it with these options besides the RPC ones (--rpc-allow-origin-all...) and waits
    // until it accepts connections; false with the reason in error().
    bool start(const QStringList& options = {});

private:
    bool startOnce(const QStringList& options);
};
