#pragma once

#include <sys/socket.h>

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// What a look-up came to: every address the name has, in the order the system gave them, of
// whatever family was asked for. The connect side picks what it can use.
struct HostAddresses {
    int error = 0;  // getaddrinfo's EAI_ code; 0 when there are addresses
    std::vector<sockaddr_storage> addresses;
};

// One blocking look-up of `name` for the address family `family` (AF_INET, AF_UNSPEC). It runs
// on a worker thread, so it may take as long as the name server does.
using HostLookup = std::function<HostAddresses(const QString& name, int family)>;

// The system's look-up (getaddrinfo, stream sockets).
HostAddresses SystemLookup(const QString& name, int family);

// Whether `name` could be a host name at all: not empty, no label over 63 bytes, 253 bytes at
// most. Any other name fails in the system's resolver without a question to a name server.
bool MayBeHostName(const QString& name);

// A host given as an address: IPv4 read as it always was ("127.1" too), IPv6 where allowed;
// false for a name.
bool LiteralAddress(const QString& host, bool ipv6, sockaddr_storage& address);

// "1.2.3.4:80", "[::1]:80"; without the port when it is 0. For the diagnostics.
QString AddressText(const sockaddr_storage& address);

// The address with its port set (IPv4 or IPv6); other families come back as they are.
sockaddr_storage WithPort(const sockaddr_storage& address, std::uint16_t port);

// Looks names up on worker threads, so that a slow name server holds neither the windows nor
// the other downloads. Each answer is handed to its callback on the thread that owns the
// resolver, from the event loop, never inside lookUp. A name already being looked up is not
// asked again: the segments of a download all wait for the one look-up.
class HostResolver : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(const HostAddresses&)>;

    explicit HostResolver(QObject* parent = nullptr);
    // Look-ups still running finish on their own; their answers go nowhere.
    ~HostResolver() override;
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    void lookUp(const QString& name, int family, Answer answer);
    // Replaces the system's look-up, for tests; affects look-ups started afterwards.
    void setLookup(HostLookup lookup) { lookup_ = std::move(lookup); }
    // Look-ups asked for and not yet answered.
    int inFlight() const { return waiting_; }

private:
    struct Mailbox;
    using Question = std::pair<QString, int>;  // name, family
    void deliver(const Question& question, const HostAddresses& result);

    std::shared_ptr<Mailbox> mailbox_;
    HostLookup lookup_;
    std::map<Question, std::vector<Answer>> running_;  // what each worker's answer is for
    int waiting_ = 0;
};
