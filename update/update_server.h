#pragma once

#include <QString>
#include <cstdint>

// The maker's web server that the update check asks, and the package and web page on it. One
// host serves all three. The built-in address is chosen when the program is built
// (BRENLOFT_UPDATE_SERVER) and is always https://; BRENLOFT_UPDATE_SERVER in the environment
// replaces it, so that tests can point the program at a server of their own, plain http:// too.
struct UpdateServer {
    std::int16_t protocol = 0;  // Protocol::Http or Protocol::Https
    QString host;               // without brackets for an IPv6 address
    std::int32_t port = 80;

    // The host as the request lines name it: with its port when that is not the scheme's own.
    QString serverName() const;
    // The scheme ("http://" or "https://") + server name + path.
    QString url(const QString& path) const;
    bool valid() const { return !host.isEmpty(); }
};

// Paths on the update server.
inline constexpr char VersionFilePath[] = "/velmora/version.txt";
inline constexpr char WebPagePath[] = "/velmora/";

// "http://host[:port]" or "https://host[:port]" (a trailing "/" allowed) as a server; an
// invalid one (another scheme, a path, no host) has an empty host.
UpdateServer ParseUpdateServer(const QString& text);

// The environment's choice when it names a valid server, else the built-in one.
UpdateServer ConfiguredUpdateServer();

// The address of the package for these version digits: "/velmora/kestor" + digits + ".zip".
QString UpdatePackageUrl(const UpdateServer& server, const QString& digits);
