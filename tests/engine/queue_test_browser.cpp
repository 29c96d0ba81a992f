// Addresses a browser handed over, against a real nginx that logs the headers it receives:
// the page goes as the Referer and the browser's cookies go with every request, across a
// pause and a new start of the program, and only to the host they came from.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>

#include "engine/http/browser_handover.h"
#include "tests/engine/queue_test_harness.h"

using namespace queue_test;

namespace {

const QString Cookie = QStringLiteral("sid=a1; theme=dark");

class HandedOverTest : public QueueTest {
protected:
    void startLoggingNginx(const std::function<void(NginxPeer&)>& locations = {}) {
        nginx = std::make_unique<NginxPeer>(served);
        nginx->logRequestHeaders();
        if (locations) {
            locations(*nginx);
        }
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
    }

    // The address as the link menu entry hands it over, from a page of the same server.
    int handOver(const QString& path) {
        AddRequest request = Request(url(path));
        request.referer = url(QStringLiteral("/list.html#downloads"));
        request.cookie = Cookie;
        return AddDownload(engine->ctx, *queue, prompts, request);
    }

    // The requests nginx has logged for this path.
    QList<NginxPeer::LoggedRequest> requestsFor(const QString& path) const {
        QList<NginxPeer::LoggedRequest> found;
        for (const NginxPeer::LoggedRequest& logged : nginx->headerLog()) {
            if (logged.request.startsWith(QStringLiteral("GET ") + path + u' ')) {
                found << logged;
            }
        }
        return found;
    }

    ScriptedAddPrompts prompts;
};

}  // namespace

TEST_F(HandedOverTest, PageAndCookiesGoWithEveryRequestAcrossANewStart) {
    const QByteArray bytes = serve(QStringLiteral("h.bin"), 400000);
    startLoggingNginx(
        [](NginxPeer& peer) { peer.addRateLimitedLocation(QStringLiteral("/slow/"), 48 * 1024); });
    engine->settings.MaxSegments = 4;
    const int slot = handOver(QStringLiteral("/slow/h.bin"));
    ASSERT_EQ(slot, 1);
    ASSERT_TRUE(WaitFor([&] { return transferring(slot) && record(slot).SegmentCount > 1; }));

    // The program ends, its list saved with the download paused; a new start loads it.
    queue.reset();
    ASSERT_EQ(StateOf(record(slot)), ListEntryState::Paused);
    ASSERT_EQ(SaveList(engine->list, engine->listPath()), QString());
    struct stat saved {};
    ASSERT_EQ(::stat(QFile::encodeName(engine->listPath()).constData(), &saved), 0);
    EXPECT_EQ(saved.st_mode & 0777, 0600u) << "the list holds the cookies";
    engine = std::make_unique<Engine>(box.path());
    ASSERT_EQ(LoadList(engine->list, engine->listPath()).error, QString());
    EXPECT_EQ(record(slot).Referer, url(QStringLiteral("/list.html")));
    EXPECT_EQ(CookieToSend(record(slot)), Cookie);
    queue = std::make_unique<DownloadQueue>(engine->ctx, windows);
    queue->Restart(slot);
    ASSERT_TRUE(WaitFor([&] { return completed(slot); }, std::chrono::seconds(60)));
    expectFile(slot, bytes);

    // The probe and the segments of both starts.
    const QList<NginxPeer::LoggedRequest> logged = requestsFor(QStringLiteral("/slow/h.bin"));
    EXPECT_GE(logged.size(), 4);
    int ranged = 0;
    for (const NginxPeer::LoggedRequest& request : logged) {
        EXPECT_EQ(request.referer, url(QStringLiteral("/list.html")))
            << request.request.toStdString();
        EXPECT_EQ(request.cookie, Cookie) << request.request.toStdString();
        EXPECT_EQ(request.userAgent, QStringLiteral("Brenloft/1"));
        ranged += !request.range.isEmpty() && request.range != QStringLiteral("bytes=0-");
    }
    EXPECT_GE(ranged, 2) << "segment requests";
}

// A redirect within the server keeps the cookies; one to another host name (the same nginx
// as "localhost") leaves them behind, for the probe there and for every segment.
TEST_F(HandedOverTest, CookiesStayBehindWhenARedirectLeavesTheirHost) {
    const QByteArray bytes = serve(QStringLiteral("r.bin"), 150000);
    startLoggingNginx([](NginxPeer& peer) {
        peer.addRedirect(QStringLiteral("/same.bin"), QStringLiteral("/r.bin"));
        peer.addRedirect(QStringLiteral("/away.bin"),
                         QStringLiteral("http://localhost:$server_port/r.bin"));
    });
    engine->settings.MaxSegments = 3;
    for (const QString& path : {QStringLiteral("/same.bin"), QStringLiteral("/away.bin")}) {
        const int slot = handOver(path);
        ASSERT_GT(slot, 0);
        ASSERT_TRUE(WaitFor([&] { return completed(slot); }, std::chrono::seconds(60)))
            << path.toStdString();
        expectFile(slot, bytes);
    }
    const QString here = QStringLiteral("127.0.0.1:%1").arg(nginx->port());
    const QString there = QStringLiteral("localhost:%1").arg(nginx->port());
    int elsewhere = 0;
    for (const NginxPeer::LoggedRequest& request : nginx->headerLog()) {
        if (request.host == here) {
            EXPECT_EQ(request.cookie, Cookie) << request.request.toStdString();
        } else {
            EXPECT_EQ(request.host, there);
            EXPECT_EQ(request.cookie, QString()) << request.request.toStdString();
            ++elsewhere;
        }
    }
    EXPECT_GE(elsewhere, 2) << "the probe and a segment at the other host";
    EXPECT_GE(requestsFor(QStringLiteral("/away.bin")).size(), 1);
}
