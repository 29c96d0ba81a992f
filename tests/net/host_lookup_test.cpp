// Host names looked up off the event loop: other connections go on meanwhile, answers keep the
// errors they always had, and an answer for a connection that has gone changes nothing.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "net/host_resolver.h"
#include "net/winsock_errors.h"
#include "tests/net/socket_test_support.h"

using namespace std::chrono_literals;

namespace {

sockaddr_storage Address(int family, const char* text, std::uint16_t port = 0) {
    sockaddr_storage address{};
    address.ss_family = static_cast<sa_family_t>(family);
    if (family == AF_INET) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        ::inet_pton(AF_INET, text, &v4.sin_addr);
        v4.sin_port = htons(port);
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        ::inet_pton(AF_INET6, text, &v6.sin6_addr);
        v6.sin6_port = htons(port);
    }
    return address;
}

enum class Ipv6Peer { None, Answers, Silent };

// A listener on [::1] at `port` that never accepts: the kernel completes connects to it until
// its queue is full. A silent one has its queue filled by `filler` at once: the kernel drops
// further connects unanswered, as a lost host would.
UniqueFd ListenOnIPv6Loopback(int port, Ipv6Peer kind, UniqueFd& filler) {
    UniqueFd fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    const sockaddr_storage address = Address(AF_INET6, "::1", static_cast<std::uint16_t>(port));
    const auto* where = reinterpret_cast<const sockaddr*>(&address);
    if (::bind(fd.get(), where, sizeof(sockaddr_in6)) != 0 ||
        ::listen(fd.get(), kind == Ipv6Peer::Silent ? 0 : 4) != 0) {
        return UniqueFd();
    }
    if (kind == Ipv6Peer::Silent) {
        filler.reset(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(filler.get(), where, sizeof(sockaddr_in6)) != 0) {
            return UniqueFd();
        }
    }
    return fd;
}

HostAddresses Found(std::initializer_list<sockaddr_storage> addresses) {
    return HostAddresses{0, addresses};
}

// Holds every look-up that reaches it until the test opens it.
struct Gate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
    void wait() {
        std::unique_lock hold(lock);
        opened.wait(hold, [this] { return open; });
    }
    void release() {
        {
            const std::lock_guard hold(lock);
            open = true;
        }
        opened.notify_all();
    }
};

// A look-up that answers `answer` once the gate opens.
HostLookup GatedLookup(std::shared_ptr<Gate> gate, HostAddresses answer) {
    return [gate, answer](const QString&, int) {
        gate->wait();
        return answer;
    };
}

struct Lookups : ::testing::Test {
    VelmoraSockets sockets;
    LoopbackServer server;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    void SetUp() override {
        sockets.StartSockets();
        ASSERT_GT(server.port, 0);
    }
    void TearDown() override {
        // The workers run the test's look-ups: none may still be waiting when the test ends.
        gate->release();
        EXPECT_TRUE(WaitFor([&] { return sockets.lookupsInFlight() == 0; }, 30s));
        sockets.StopSockets();
    }
    // Lets pending notifications run; whatever they were going to cause has then happened.
    static void settle() {
        WaitFor([] { return false; }, 200ms);
    }
};

}  // namespace

TEST_F(Lookups, ASlowAnswerHoldsNeitherTheEventLoopNorAnotherConnection) {
    auto otherBytes = std::make_shared<std::atomic<qint64>>(0);
    auto bytesAtAnswer = std::make_shared<std::atomic<qint64>>(-1);
    sockets.setLookup([otherBytes, bytesAtAnswer](const QString&, int) {
        std::this_thread::sleep_for(3s);
        bytesAtAnswer->store(otherBytes->load());
        return Found({Address(AF_INET, "127.0.0.1")});
    });
    SocketClass other(sockets);
    EventLog otherLog;
    otherLog.listen(other);
    QObject::connect(&other, &SocketClass::DataReceivedEvent,
                     [otherBytes](SocketClass*, std::int32_t n) { *otherBytes += n; });
    other.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return otherLog.has(QStringLiteral("connect")); }));

    SocketClass slow(sockets);
    EventLog slowLog;
    slowLog.listen(slow);
    slow.Connect(QStringLiteral("slow.test"), server.port);
    // Connect has returned with the name still being looked up; only now is data asked for.
    EXPECT_EQ(sockets.lookupsInFlight(), 1);
    EXPECT_TRUE(slowLog.events.isEmpty());
    const qsizetype size = 8 * 1024 * 1024;
    other.SendData(QByteArray("SEND ") + QByteArray::number(size) + "\nCLOSE\n");

    ASSERT_TRUE(WaitFor(
        [&] {
            return slowLog.has(QStringLiteral("connect")) || slowLog.has(QStringLiteral("error"));
        },
        60s));
    ASSERT_TRUE(slowLog.has(QStringLiteral("connect"))) << slowLog.events.first().value;
    EXPECT_GT(bytesAtAnswer->load(), 0);  // data came in while the name was looked up
    EXPECT_EQ(slow.PeerAddress(), QStringLiteral("127.0.0.1"));
    slow.SendData("SEND 10\nCLOSE\n");
    ASSERT_TRUE(WaitFor([&] { return slowLog.has(QStringLiteral("closed")); }));
    EXPECT_TRUE(IsPattern(slowLog.received));
    EXPECT_EQ(slowLog.received.size(), 10);
    ASSERT_TRUE(WaitFor([&] { return otherLog.has(QStringLiteral("closed")); }, 60s));
    EXPECT_EQ(otherLog.received.size(), size);
}

TEST_F(Lookups, AddressesAreTriedIPv6FirstUntilOneConnects) {
    // The server listens on 127.0.0.1 only: ::1 and 127.0.0.2 refuse, unless a row has a
    // listener on ::1 at the same port.
    const auto v4 = [](const char* text) { return Address(AF_INET, text); };
    const auto v6 = [](const char* text) { return Address(AF_INET6, text); };
    const struct {
        const char* what;
        HostAddresses answer;
        Ipv6Peer ipv6;
        const char* outcome;  // the address connected to, or the errors heard
    } cases[] = {
        {"unknown name", HostAddresses{EAI_NONAME, {}}, Ipv6Peer::None, "10049 10049"},
        {"0.0.0.0 and ::, this machine", Found({v6("::"), v4("0.0.0.0")}), Ipv6Peer::None,
         "10049 10049"},
        {"IPv6 only, nothing listens there", Found({v6("::1")}), Ipv6Peer::None, "10061"},
        {"every address refuses", Found({v4("127.0.0.2"), v6("::1")}), Ipv6Peer::None, "10061"},
        {"IPv6 refuses, then the first IPv4 answers",
         Found({v6("::1"), v4("127.0.0.1"), v4("127.0.0.2")}), Ipv6Peer::None, "127.0.0.1"},
        {"IPv6 first whatever the order given; 0.0.0.0 skipped",
         Found({v4("127.0.0.2"), v4("0.0.0.0"), v6("::1"), v4("127.0.0.1")}), Ipv6Peer::None,
         "127.0.0.1"},
        {"IPv6 answers", Found({v4("127.0.0.1"), v6("::1")}), Ipv6Peer::Answers, "::1"},
        // Left after a short wait, not after the system's connect time-out.
        {"IPv6 never answers", Found({v6("::1"), v4("127.0.0.1")}), Ipv6Peer::Silent, "127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueFd filler;
        const UniqueFd listener = c.ipv6 == Ipv6Peer::None
                                      ? UniqueFd()
                                      : ListenOnIPv6Loopback(server.port, c.ipv6, filler);
        ASSERT_EQ(listener.valid(), c.ipv6 != Ipv6Peer::None);
        sockets.setLookup([answer = c.answer](const QString&, int) { return answer; });
        SocketClass socket(sockets);
        EventLog log;
        log.listen(socket);
        socket.Connect(QStringLiteral("name.test"), server.port);
        EXPECT_TRUE(log.events.isEmpty());  // nothing inside Connect
        EXPECT_EQ(sockets.entry(socket.SocketIndex)->State, EntryState::Connecting);
        // The owner hears only once every address has failed, the error an IPv4 connect always
        // gave; an answer with no usable address as when the look-up blocked: twice.
        const auto outcome = [&] {
            QStringList heard;
            for (const EventLog::Event& e : log.events) {
                heard << (e.kind == u"connect" ? socket.PeerAddress() : QString::number(e.value));
            }
            return heard.join(u' ');
        };
        EXPECT_TRUE(WaitFor([&] { return outcome() == QLatin1String(c.outcome); }))
            << outcome().toStdString();
        settle();
        EXPECT_EQ(outcome(), QLatin1String(c.outcome));
        EXPECT_EQ(sockets.entry(socket.SocketIndex)->State == EntryState::Failed,
                  !log.has(QStringLiteral("connect")));
    }
}

TEST_F(Lookups, AnAnswerForAConnectionThatHasGoneChangesNothing) {
    const struct {
        const char* what;
        HostAddresses answer;
        // Done to the connection while its name is looked up; may start another connection.
        std::function<void(Lookups&, SocketClass&, std::unique_ptr<SocketClass>&)> meanwhile;
        int expectedConnects;  // by the connection started meanwhile, if any
    } cases[] = {
        {"closed, then found", Found({Address(AF_INET, "127.0.0.1")}),
         [](Lookups&, SocketClass& s, auto&) { s.CloseSocket(); }, 0},
        {"closed, then unknown", HostAddresses{EAI_NONAME, {}},
         [](Lookups&, SocketClass& s, auto&) { s.CloseSocket(); }, 0},
        {"given back", Found({Address(AF_INET, "127.0.0.1")}),
         [](Lookups&, SocketClass& s, auto&) { s.ShutDown(); }, 0},
        {"given back and taken by another connection", HostAddresses{EAI_NONAME, {}},
         [](Lookups& t, SocketClass& s, std::unique_ptr<SocketClass>& next) {
             s.ShutDown();
             next = std::make_unique<SocketClass>(t.sockets);
             EXPECT_EQ(next->SocketIndex, s.SocketIndex);
             next->Connect(QStringLiteral("127.0.0.1"), t.server.port);
         },
         1},
        {"connected anew to an address", HostAddresses{EAI_NONAME, {}},
         [](Lookups& t, SocketClass& s, auto&) {
             s.Connect(QStringLiteral("127.0.0.1"), t.server.port);
         },
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gate = std::make_shared<Gate>();
        sockets.setLookup(GatedLookup(gate, c.answer));
        SocketClass socket(sockets);
        EventLog log;
        log.listen(socket);
        socket.Connect(QStringLiteral("late.test"), server.port);
        ASSERT_EQ(sockets.lookupsInFlight(), 1);
        std::unique_ptr<SocketClass> next;
        c.meanwhile(*this, socket, next);
        EventLog nextLog;
        if (next) {
            nextLog.listen(*next);
        }
        const SocketEntry* e = sockets.entry(socket.SocketIndex);
        const std::int32_t inUse = e->InUse;
        const std::int32_t state = e->State;
        gate->release();
        ASSERT_TRUE(WaitFor([&] { return sockets.lookupsInFlight() == 0; }));
        settle();
        const EventLog& started = next ? nextLog : log;
        EXPECT_EQ(started.count(QStringLiteral("connect")), c.expectedConnects);
        EXPECT_FALSE(started.has(QStringLiteral("error")));
        if (next) {
            EXPECT_TRUE(log.events.isEmpty());
        }
        if (!next && c.expectedConnects == 0) {
            e = sockets.entry(socket.SocketIndex);
            EXPECT_FALSE(e->Handle.valid());  // no connect was tried
            EXPECT_EQ(e->InUse, inUse);
            EXPECT_EQ(e->State, state);
        }
    }
}

TEST(HostResolverTest, AnswersComeFromTheEventLoopAndNeverAfterTheResolverIsGone) {
    auto resolver = std::make_unique<HostResolver>();
    int answers = 0;
    resolver->setLookup([](const QString& name, int family) {
        return name == u"a.test" && family == AF_INET ? Found({Address(AF_INET, "127.0.0.3")})
                                                      : HostAddresses{EAI_FAIL, {}};
    });
    HostAddresses heard;
    resolver->lookUp(QStringLiteral("a.test"), AF_INET, [&](const HostAddresses& found) {
        ++answers;
        heard = found;
    });
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(resolver->inFlight(), 1);
    ASSERT_TRUE(WaitFor([&] { return answers == 1; }));
    EXPECT_EQ(resolver->inFlight(), 0);
    ASSERT_EQ(heard.addresses.size(), 1u);
    EXPECT_EQ(AddressText(heard.addresses[0]), QStringLiteral("127.0.0.3"));

    // A resolver destroyed with a look-up running: the worker finishes, and nobody hears.
    auto gate = std::make_shared<Gate>();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    resolver->setLookup([gate, finished](const QString&, int) {
        gate->wait();
        finished->store(true);
        return Found({Address(AF_INET, "127.0.0.1")});
    });
    resolver->lookUp(QStringLiteral("b.test"), AF_INET, [&](const HostAddresses&) { ++answers; });
    resolver.reset();
    gate->release();
    ASSERT_TRUE(WaitFor([&] { return finished->load(); }));
    WaitFor([] { return false; }, 200ms);
    EXPECT_EQ(answers, 1);
}

TEST(HostResolverTest, ANameBeingLookedUpIsNotAskedForAgain) {
    HostResolver resolver;
    auto gate = std::make_shared<Gate>();
    auto asked = std::make_shared<std::atomic<int>>(0);
    resolver.setLookup([gate, asked](const QString& name, int) {
        ++*asked;
        gate->wait();
        return Found({Address(AF_INET, name == u"one.test" ? "127.0.0.1" : "127.0.0.2")});
    });
    QStringList heard;
    const auto hear = [&](const QString& who) {
        return [&heard, who](const HostAddresses& found) {
            heard << who + u' ' + AddressText(found.addresses.at(0));
        };
    };
    resolver.lookUp(QStringLiteral("one.test"), AF_INET, hear(QStringLiteral("first")));
    resolver.lookUp(QStringLiteral("one.test"), AF_INET, hear(QStringLiteral("second")));
    resolver.lookUp(QStringLiteral("two.test"), AF_INET, hear(QStringLiteral("third")));
    EXPECT_EQ(resolver.inFlight(), 3);
    gate->release();
    ASSERT_TRUE(WaitFor([&] { return resolver.inFlight() == 0; }));
    EXPECT_EQ(asked->load(), 2);
    heard.sort();
    EXPECT_EQ(heard,
              (QStringList{QStringLiteral("first 127.0.0.1"), QStringLiteral("second 127.0.0.1"),
                           QStringLiteral("third 127.0.0.2")}));
}

TEST(HostResolverTest, TheSystemLookUpListsAddressesOfTheFamilyAskedFor) {
    const HostAddresses v4 = SystemLookup(QStringLiteral("localhost"), AF_INET);
    ASSERT_EQ(v4.error, 0);
    QStringList texts;
    for (const sockaddr_storage& a : v4.addresses) {
        EXPECT_EQ(a.ss_family, AF_INET);
        texts << AddressText(a);
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("127.0.0.1"))) << texts.join(u' ').toStdString();
    const HostAddresses numeric = SystemLookup(QStringLiteral("::1"), AF_UNSPEC);
    ASSERT_EQ(numeric.error, 0);
    ASSERT_FALSE(numeric.addresses.empty());
    EXPECT_EQ(numeric.addresses[0].ss_family, AF_INET6);
    EXPECT_NE(SystemLookup(QString(64, u'x') + QStringLiteral(".invalid"), AF_INET).error, 0);
}

TEST(HostResolverTest, NamesAndAddressesAsText) {
    const QString label63(63, u'a');
    const struct {
        QString name;
        bool mayBe;
    } names[] = {
        {QStringLiteral("example.com"), true},
        {QStringLiteral("example.com."), true},
        {label63 + QStringLiteral(".com"), true},
        {QString(), false},
        {QStringLiteral("."), false},
        {label63 + QStringLiteral("a.com"), false},
        {QStringList(4, label63).join(u'.').left(253), true},
        {QStringList(4, label63).join(u'.').left(254), false},
    };
    for (const auto& n : names) {
        EXPECT_EQ(MayBeHostName(n.name), n.mayBe) << n.name.toStdString();
    }
    EXPECT_EQ(AddressText(Address(AF_INET, "127.0.0.1", 8080)), QStringLiteral("127.0.0.1:8080"));
    EXPECT_EQ(AddressText(Address(AF_INET6, "::1", 443)), QStringLiteral("[::1]:443"));
    EXPECT_EQ(AddressText(Address(AF_INET6, "fe80::1")), QStringLiteral("fe80::1"));
}
