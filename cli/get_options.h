#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "core/checksums/checksum.h"
#include "engine/http/proxy_route.h"
#include "rpc/rpc_transport_options.h"

// What brenloft-get was asked to do.
struct GetOptions {
    QString folder = QStringLiteral(".");
    int segments = 0;        // 0: the settings' default
    int simultaneous = 3;    // downloads running at once when several addresses are given
    std::int32_t limit = 0;  // bytes per second, 0: no limit
    int maxTries = 0;        // reconnects to a silent server before failing, 0: the default
    std::optional<ProxyRoute> proxy;  // --proxy: every connection goes through it
    bool noProxy = false;             // --no-proxy: none does, whatever the environment says
    QString proxyPasswordFile;        // the proxy's password is this file's first line
    QString user;
    QString password;
    QString passwordFile;      // the password is this file's first line
    bool askPassword = false;  // the password is read from standard input
    bool quiet = false;
    bool verbose = false;   // the download's story on stderr, for a bug report
    QString caCertificate;  // an extra CA file (PEM) that https:// servers may be signed by
    bool checkCertificates = true;
    bool safeDisk = true;  // part files flushed to the disk every second ("SafeDisk")
    // A file that changed on its server since its download began is fetched again from its
    // first byte; --no-restart: the download stops with the reason instead.
    bool restartChanged = true;
    // --checksum, in the order given: the first is the first address's, and so on.
    QList<Checksum> checksums;
    // The server is searched for a checksum of each file (--no-checksum-lookup: it is not).
    bool checksumLookups = true;
    QStringList urls;
    // --enable-rpc: no URL, a daemon run by remote control until SIGTERM or aria2.shutdown.
    bool enableRpc = false;
    RpcTransportOptions rpc;
    QString rpcSecret;            // empty: the one kept in the work folder, made the first time
    bool rpcSecure = false;       // needs rpc.certificateFile and rpc.privateKeyFile
    bool rpcOptionGiven = false;  // any --rpc-* option: they need --enable-rpc
    // --help or --version: that is printed and nothing else is done.
    enum class Show { Nothing, Help, Version };
    Show show = Show::Nothing;
};

constexpr const char* GetUsage =
    "usage: brenloft-get [-d DIR] [-n SEGMENTS] [-j DOWNLOADS] [--limit BYTES_PER_S] "
    "[--max-tries N] "
    "[--proxy URL [--proxy-password-file FILE] | --no-proxy] "
    "[--user U --password P | --password-file FILE | --ask-password] "
    "[--ca-certificate FILE] [--no-check-certificate] [--no-safe-disk] [--no-restart] "
    "[--checksum KIND=HEX]... [--no-checksum-lookup] [-q] [-v] "
    "(URL... | --enable-rpc [--rpc-OPTION]...)";

// What --help prints after the usage line: every option, one line each.
constexpr const char* GetHelp =
    "Downloads each http://, https:// or ftp:// URL into DIR in several segments at once.\n"
    "\n"
    "  -d DIR                  folder the files go to (default: the current folder)\n"
    "  -n SEGMENTS             connections per download, 1 to 8 (default: the settings')\n"
    "  -j DOWNLOADS            downloads at once when several URLs are given, 1 to 20 (3)\n"
    "  --limit BYTES_PER_S     speed limit in bytes per second, or with k or M: 500k, 2M\n"
    "  --max-tries N           reconnects to a server that sends nothing before the download\n"
    "                          fails, keeping its bytes, 1 to 999 (20)\n"
    "  --proxy URL             the proxy for every URL: http://HOST[:PORT] (https:// goes\n"
    "                          through CONNECT), socks4://, socks5:// or socks5h://HOST[:PORT]\n"
    "                          (socks5h: the proxy resolves the names), each with an optional\n"
    "                          USER:PASSWORD@ (percent-encoded; other users can see it in\n"
    "                          the process list: prefer the next option); HOST:PORT alone\n"
    "                          is an HTTP proxy\n"
    "  --proxy-password-file FILE\n"
    "                          the proxy's password is the first line of FILE (--proxy\n"
    "                          then names the user alone: socks5h://USER@HOST)\n"
    "  --no-proxy              no proxy, whatever the environment says\n"
    "  --user U                user name for the servers (needs --password)\n"
    "  --password P            password for the servers (needs --user); other users can\n"
    "                          see it in the process list: prefer one of the next two\n"
    "  --password-file FILE    the password is the first line of FILE\n"
    "  --ask-password          read the password from standard input (not shown on a terminal)\n"
    "  --ca-certificate FILE   also trust the CA certificates (PEM) in FILE for https://\n"
    "  --no-check-certificate  accept any https:// certificate, with a warning\n"
    "  --no-safe-disk          do not flush part files to the disk every second: a little\n"
    "                          faster, but a power cut may lose more than the last second\n"
    "  --no-restart            a file that changed on its server since its download began\n"
    "                          stops the download, instead of fetching it again whole\n"
    "  --checksum KIND=HEX     the checksum the file must have (md5, sha-1, sha-256, sha-512;\n"
    "                          bare hex says its kind by its length); one per URL, in order\n"
    "  --no-checksum-lookup    do not ask the server for checksums (headers, FILE.sha256,\n"
    "                          SHA256SUMS); a given --checksum is checked either way\n"
    "  -q, --quiet             no progress lines, only finished files and failures\n"
    "  -v, --verbose           tell each download's story on stderr\n"
    "  --enable-rpc            run as a daemon driven by aria2's JSON-RPC clients over\n"
    "                          http://HOST:PORT/jsonrpc and ws://HOST:PORT/jsonrpc; no URL\n"
    "                          (clients add them); -j, -n, --limit, --max-tries, --proxy and\n"
    "                          the login options are its defaults. Ends on SIGTERM or\n"
    "                          aria2.shutdown with the list saved; started again, it resumes\n"
    "                          what was running, and what a client paused stays paused\n"
    "  --rpc-listen-port PORT  its port (6800; 0: any free one, printed at start)\n"
    "  --rpc-secret TOKEN      the secret clients give (\"token:TOKEN\"); without it one is\n"
    "                          made and kept in DIR/.brenloft-get/rpc-secret (mode 0600)\n"
    "  --rpc-listen-all        listen on every address, not only 127.0.0.1 and [::1]\n"
    "  --rpc-allow-origin-all  let web pages of any origin call it\n"
    "  --rpc-secure            HTTPS and wss:// only, with the next two\n"
    "  --rpc-certificate FILE  its certificate chain (PEM)\n"
    "  --rpc-private-key FILE  its private key (PEM)\n"
    "  --rpc-max-request-size SIZE\n"
    "                          the largest request taken, in bytes or with K or M (2M)\n"
    "                          (--enable-rpc and the flags above also take =true or =false)\n"
    "  -h, --help              print this help and end\n"
    "  --version               print the version and end\n"
    "\n"
    "Without --proxy and --no-proxy, the environment's proxies are used as curl reads them:\n"
    "http_proxy (lower case only), https_proxy, ftp_proxy, all_proxy and no_proxy (hosts,\n"
    "domains, addresses, networks, HOST:PORT or *, comma-separated), or their upper case; a\n"
    "variable that holds no proxy address ends the command with status 2.\n"
    "\n"
    "The list and part files stay in DIR/.brenloft-get/, so the same command run again\n"
    "continues where it stopped, as does a new address of a file left unfinished there\n"
    "when it serves the very same file (size, ETag and bytes). That folder must be yours\n"
    "and writable by you alone; no settings file is read. Each finished file is checked\n"
    "against its checksum, given or found on the server, with one line: \"big.iso: SHA-256\n"
    "matches SHA256SUMS\", \"big.iso: no checksum found\" or \"big.iso: checksum failed:\n"
    "...\" naming both values (the file keeps its name). Exit status: 0 when every file\n"
    "is complete, 1 when one failed or failed its check, 2 on bad arguments (or when no\n"
    "URL is an http://, https:// or ftp:// one), 130 when interrupted (Ctrl-C, SIGTERM).\n"
    "With --enable-rpc: 0 when ended by SIGTERM, Ctrl-C or a client, 1 when it cannot\n"
    "listen (the port taken, a certificate that does not load), 2 on bad arguments.\n";

// A rate in bytes per second: digits with an optional decimal point and an optional suffix,
// k (KiB) or M (MiB), upper or lower case; nothing when it is no rate or outside 1..2^31-1.
std::optional<std::int32_t> ParseRate(const QString& text);

// The options, or nothing with `error` saying what is wrong with the arguments. Reading stops
// at --help or --version: a user asking for either gets it without naming a URL.
std::optional<GetOptions> ParseGetOptions(const QStringList& arguments, QString& error);

// Fills options.password from --password-file or --ask-password, and the proxy's from
// --proxy-password-file; false with `error` saying why one could not be read.
bool ReadPassword(GetOptions& options, QString& error);

// Why the command cannot fetch anything when none of `urls` is an http://, https:// or ftp://
// address; empty when one is.
QString NoAddressToFetch(const QStringList& urls);
