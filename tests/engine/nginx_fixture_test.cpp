#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>

#include "engine/http/http_requests.h"
#include "engine/http/response_head.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

struct Reply {
    QByteArray head;  // up to and with the blank line
    ResponseHead parsed;
    QByteArray body;
    bool complete = false;  // the head and Content-Length bytes of body arrived
};

// One request over the program's own socket layer, read until the announced body is in.
Reply Exchange(VelmoraSockets& sockets, int port, const QByteArray& request) {
    SocketClass socket(sockets);
    QByteArray received;
    bool ended = false;
    QObject::connect(&socket, &SocketClass::ConnectEvent,
                     [&](SocketClass*) { socket.SendData(request); });
    QObject::connect(&socket, &SocketClass::DataReceivedEvent,
                     [&](SocketClass*, std::int32_t) { received += socket.GetData(); });
    QObject::connect(&socket, &SocketClass::ClosedEvent, [&](SocketClass*) { ended = true; });
    QObject::connect(&socket, &SocketClass::ErrorEvent,
                     [&](SocketClass*, std::int32_t) { ended = true; });
    socket.Connect(QStringLiteral("127.0.0.1"), port);

    Reply reply;
    WaitFor([&] {
        const qsizetype blank = received.indexOf("\r\n\r\n");
        if (blank >= 0 && reply.head.isEmpty()) {
            reply.head = received.left(blank + 4);
            reply.parsed = ParseResponseHead(reply.head);
        }
        reply.complete = !reply.head.isEmpty() &&
                         received.size() - reply.head.size() >= reply.parsed.contentLength;
        return reply.complete || ended;
    });
    reply.body = received.mid(reply.head.size());
    socket.ShutDown();
    return reply;
}

HttpRequestTarget Target(const QString& path) {
    HttpRequestTarget t;
    t.host = QStringLiteral("127.0.0.1");
    t.path = path;
    return t;
}

struct NginxFixture : ::testing::Test {
    // The sandbox is private to its owner (0700): nginx must serve it as it is.
    Sandbox box;
    QByteArray data = RandomBytes(1 << 20);
    VelmoraSockets sockets;
    void SetUp() override {
        ASSERT_TRUE(WriteFile(box.file(QStringLiteral("data.bin")), data));
        sockets.StartSockets();
    }
    void TearDown() override { sockets.StopSockets(); }
};

}  // namespace

TEST_F(NginxFixture, RangeIsHonouredExceptWhereRangesAreSwitchedOff) {
    NginxPeer nginx(box.path());
    nginx.addNoRangesLocation(QStringLiteral("/noranges/"));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();

    const Reply ranged =
        Exchange(sockets, nginx.port(), SegmentRequest(Target("/data.bin"), 1000, 299999));
    ASSERT_TRUE(ranged.complete) << ranged.head.toStdString();
    EXPECT_EQ(ranged.parsed.status, 206);
    EXPECT_TRUE(ranged.head.contains("\r\nContent-Range: bytes 1000-299999/1048576\r\n"));
    EXPECT_EQ(ranged.parsed.contentLength, 299000);
    EXPECT_TRUE(ranged.body == data.mid(1000, 299000));
    EXPECT_EQ(ranged.parsed.contentType, QStringLiteral("application/octet-stream"));

    const Reply whole =
        Exchange(sockets, nginx.port(), SegmentRequest(Target("/noranges/data.bin"), 1000, 299999));
    ASSERT_TRUE(whole.complete) << whole.head.toStdString();
    EXPECT_EQ(whole.parsed.status, 200);
    EXPECT_FALSE(whole.head.contains("Content-Range"));
    EXPECT_TRUE(whole.body == data);

    EXPECT_EQ(Exchange(sockets, nginx.port(), ProbeRequest(Target("/missing.bin"))).parsed.status,
              404);
}

TEST_F(NginxFixture, BasicAuthWantsTheRightLogin) {
    NginxPeer nginx(box.path());
    nginx.addBasicAuthLocation(QStringLiteral("/private/"), QStringLiteral("ann"),
                               QStringLiteral("p@ss w0rd"));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();

    HttpRequestTarget target = Target("/private/data.bin");
    const Reply anonymous = Exchange(sockets, nginx.port(), ProbeRequest(target));
    EXPECT_EQ(anonymous.parsed.status, 401);
    EXPECT_TRUE(anonymous.head.contains("\r\nWWW-Authenticate: Basic realm=\"Brenloft test\"\r\n"));

    target.user = QStringLiteral("ann");
    target.password = QStringLiteral("wrong");
    EXPECT_EQ(Exchange(sockets, nginx.port(), ProbeRequest(target)).parsed.status, 401);

    target.password = QStringLiteral("p@ss w0rd");
    const Reply allowed = Exchange(sockets, nginx.port(), ProbeRequest(target));
    ASSERT_TRUE(allowed.complete) << allowed.head.toStdString();
    EXPECT_EQ(allowed.parsed.status, 206);
    EXPECT_TRUE(allowed.body == data);
}

TEST_F(NginxFixture, RedirectsNamesAndFoldersWithBlanks) {
    // A root whose name needs quoting in the configuration.
    const QString root = box.file(QStringLiteral("served \"files\"; here"));
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_TRUE(WriteFile(root + QStringLiteral("/data.bin"), data.left(5000)));

    NginxPeer other(root);
    ASSERT_TRUE(other.start()) << other.error().toStdString();
    NginxPeer nginx(root);
    nginx.addRedirect(QStringLiteral("/moved.bin"), other.url(QStringLiteral("/data.bin")));
    nginx.addRedirect(QStringLiteral("/relative.bin"), QStringLiteral("/data.bin"), 301);
    nginx.addContentDispositionLocation(QStringLiteral("/named/"),
                                        QStringLiteral("attachment; filename=\"a b.bin\""));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    EXPECT_NE(nginx.port(), other.port());

    const Reply moved = Exchange(sockets, nginx.port(), ProbeRequest(Target("/moved.bin")));
    EXPECT_EQ(moved.parsed.status, 302);
    EXPECT_EQ(moved.parsed.location, other.url(QStringLiteral("/data.bin")));
    const Reply there = Exchange(sockets, other.port(), ProbeRequest(Target("/data.bin")));
    ASSERT_TRUE(there.complete);
    EXPECT_TRUE(there.body == data.left(5000));

    const Reply relative = Exchange(sockets, nginx.port(), ProbeRequest(Target("/relative.bin")));
    EXPECT_EQ(relative.parsed.status, 301);
    EXPECT_EQ(relative.parsed.location, QStringLiteral("/data.bin"));

    const Reply named = Exchange(sockets, nginx.port(), ProbeRequest(Target("/named/data.bin")));
    ASSERT_TRUE(named.complete);
    EXPECT_TRUE(
        named.head.contains("\r\nContent-Disposition: attachment; filename=\"a b.bin\"\r\n"));
    EXPECT_EQ(named.parsed.fileName, QStringLiteral("a b.bin"));
    EXPECT_TRUE(named.body == data.left(5000));
}

TEST_F(NginxFixture, StopLeavesNoProcessAndFreesThePort) {
    NginxPeer nginx(box.path());
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const qint64 pid = nginx.pid();
    const int port = nginx.port();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0);
    EXPECT_TRUE(QFile::exists(nginx.folder() + QStringLiteral("/nginx.conf")));
    EXPECT_TRUE(nginx.folder().startsWith(QStringLiteral(BRENLOFT_BINARY_DIR)));

    nginx.stop();
    errno = 0;
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_FALSE(LoopbackPortAccepts(port));
    EXPECT_EQ(nginx.pid(), 0);
}
