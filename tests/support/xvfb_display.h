#pragma once

#include <QString>

#include "tests/support/peer_process.h"

// An X server of the test's own (Xvfb, no TCP), for what only a real display shows: the tray
// on the session bus, notifications servers. Stopped by its pid with the object.
class XvfbDisplay {
public:
    // False with the reason in error().
    bool start();
    // ":N", for DISPLAY.
    QString name() const { return name_; }
    QString error() const { return error_; }

private:
    PeerProcess server_;
    QString name_;
    QString error_;
};
