#pragma once

#include <QString>
#include <cstdint>

// A SOCKS server to reach a target through.
struct SocksProxy {
    int version = 5;  // 4 or 5
    QString server;
    std::int32_t port = 1080;
    QString user{};  // SOCKS5: user/password (RFC 1929) when set; SOCKS4: its user id
    QString password{};
    // SOCKS5: the target's name goes to the server, which resolves it (no name reaches the
    // local resolver); false: it is resolved here and its address sent. SOCKS4 sends an
    // address, resolved here.
    bool remoteNames = true;
};

// The SOCKS handshake of an entry: how to speak to its server, and which answer it waits for.
struct SocksHandshake {
    enum class Phase {
        Off,       // no answer expected: any byte from the server is out of turn
        Request4,  // the SOCKS4 request is sent
        Greeting,  // the SOCKS5 greeting is sent: the server picks a method
        Login,     // user and password are sent
        Request5,  // the SOCKS5 request is sent
    };
    int version = 4;
    QString user;
    QString password;
    bool remoteNames = true;
    Phase phase = Phase::Off;
};
