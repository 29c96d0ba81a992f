// The entry point other programs hand addresses to, served on a private session bus and
// called from a second connection as another process would.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "engine/http/browser_handover.h"
#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "integration/automation/velmora.h"
#include "tests/support/engine_rig.h"
#include "tests/support/private_bus.h"
#include "tests/support/text_printer.h"

namespace {

class AutomationEntry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.start(QStringLiteral("session"))) << bus.error().toStdString();
        server = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("brenloft")));
        client = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("caller")));
        ASSERT_TRUE(server->isConnected() && client->isConnected());
        // Added entries wait in the queue: nothing is downloaded.
        engine.settings.MaxSimulDownlads = 0;
        velmora =
            std::make_unique<Velmora>([this](const QString& url, const QString& referer,
                                             const QString& cookie, const Checksum& checksum) {
                AddRequest request;
                request.url = url;
                request.referer = referer;
                request.cookie = cookie;
                request.checksum = checksum;
                AddDownload(engine.ctx, queue, prompts, request);
            });
        ASSERT_EQ(velmora->publish(*server), QString());
    }

    void TearDown() override {
        velmora.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("brenloft"));
        QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
    }

    // Calls as a client does and waits for the answer with the event loop running, since the
    // service is served by this same thread.
    QDBusMessage call(const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QLatin1String(Velmora::ServiceName), QLatin1String(Velmora::ObjectPath),
            QLatin1String(Velmora::ServiceName), method);
        message.setArguments(arguments);
        QDBusPendingCall pending = client->asyncCall(message, 20000);
        EXPECT_TRUE(WaitFor([&] { return pending.isFinished(); }, std::chrono::seconds(20)));
        return pending.reply();
    }

    int ieurl(const QString& url) {
        const QDBusMessage reply = call(QStringLiteral("IEURL"), {url});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0, -1).toInt();
    }

    QStringList listed() {
        QStringList urls;
        for (int slot = 1; slot <= engine.list.DownloadCount; ++slot) {
            const DownloadRecord& r = engine.list.DownloadList[slot];
            if (r.Active == FlagTrue) {
                urls << r.Url;
            }
        }
        return urls;
    }

    PrivateBus bus;
    EngineRig engine;
    NoSessionWindows windows;
    DownloadQueue queue{engine.ctx, windows};
    ScriptedAddPrompts prompts;
    std::unique_ptr<QDBusConnection> server;
    std::unique_ptr<QDBusConnection> client;
    std::unique_ptr<Velmora> velmora;
};

}  // namespace

// The scheme test ignores letter case but not blanks or quotes; only what passes is added, and a
// magnet link goes on to the torrent program.
TEST_F(AutomationEntry, IeurlAcceptsHttpHttpsAndFtpAddressesOnly) {
    QStringList handed;
    engine.ctx.handOverLink = [&](const QString& link) { handed << link; };
    const QString magnet = QStringLiteral("magnet:?xt=urn:btih:0123456789abcdef&dn=a+b");
    EXPECT_EQ(ieurl(magnet), 1);
    EXPECT_EQ(handed, QStringList{magnet});
    const QStringList accepted = {
        QStringLiteral("http://127.0.0.1:9/a.zip"),  QStringLiteral("HTTP://127.0.0.1:9/b.zip"),
        QStringLiteral("ftp://127.0.0.1:9/c.iso"),   QStringLiteral("Ftp://127.0.0.1:9/d.iso"),
        QStringLiteral("https://127.0.0.1:9/e.zip"), QStringLiteral("HTTPS://127.0.0.1:9/f.zip"),
        QStringLiteral("hTTpS://127.0.0.1:9/g.zip"),
    };
    for (const QString& url : accepted) {
        EXPECT_EQ(ieurl(url), 1) << url.toStdString();
    }
    EXPECT_EQ(listed().size(), accepted.size());
    for (const QString& refused :
         {QStringLiteral("mailto:someone@example.org"), QString(),
          QStringLiteral(" http://127.0.0.1:9/e.zip"), QStringLiteral("\"http://127.0.0.1:9/f\""),
          QStringLiteral("file:///etc/passwd"), QStringLiteral("http:/"),
          QStringLiteral("javascript:alert(1)"), QStringLiteral("ftps://127.0.0.1:9/h"),
          QStringLiteral("httpss://127.0.0.1:9/i"), QStringLiteral(" https://127.0.0.1:9/j")}) {
        EXPECT_EQ(ieurl(refused), 0) << refused.toStdString();
    }
    EXPECT_EQ(listed().size(), accepted.size()) << "nothing refused was added";
    EXPECT_EQ(prompts.errors, QStringList{});
}

// MenuURL always succeeds: an unusable address is reported by adding's own message, in the
// program. LeechURL changes nothing. No call names a folder or file to write to.
TEST_F(AutomationEntry, MenuUrlReportsInTheProgramAndLeechUrlDoesNothing) {
    QDBusMessage reply =
        call(QStringLiteral("MenuURL"),
             {QStringLiteral("gopher://x/"), QStringLiteral("http://ref/"), QStringLiteral("a=b")});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(prompts.errors.size(), 1) << "adding's message for an unusable address";
    EXPECT_TRUE(listed().isEmpty());

    reply = call(QStringLiteral("MenuURL"),
                 {QStringLiteral("http://127.0.0.1:9/g.zip"), QString(), QString()});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(listed().size(), 1);
    reply = call(QStringLiteral("MenuURL"),
                 {QStringLiteral("HTTPS://127.0.0.1:9/k.zip"), QString(), QString()});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(listed().size(), 2);
    EXPECT_EQ(prompts.errors.size(), 1);

    reply = call(QStringLiteral("LeechURL"),
                 {QStringLiteral("http://127.0.0.1:9/h.zip"), QStringLiteral("http://ref/")});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(listed().size(), 2);

    // Only the three methods exist: nothing else can be asked of the program.
    reply = call(QStringLiteral("SetDownloadFolder"), {QStringLiteral("/etc")});
    EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(engine.settings.DownloadFolder, engine.downloads());
}

// MenuURL keeps the page and the browser's cookies with the download; IEURL takes the address
// alone. A later hand-over of the same waiting address brings fresher ones.
TEST_F(AutomationEntry, MenuUrlKeepsThePageAndTheCookiesWithTheDownload) {
    const QString page = QStringLiteral("https://shop.example/list.html#files");
    const QString url = QStringLiteral("https://127.0.0.1:9/k.zip");
    EXPECT_EQ(
        call(QStringLiteral("MenuURL"), {url, page, QStringLiteral("sid=1; theme=dark")}).type(),
        QDBusMessage::ReplyMessage);
    EXPECT_EQ(ieurl(QStringLiteral("http://127.0.0.1:9/plain.zip")), 1);
    ASSERT_EQ(engine.list.DownloadCount, 2);
    const DownloadRecord& handed = engine.list.DownloadList[1];
    EXPECT_EQ(handed.Referer, QStringLiteral("https://shop.example/list.html"));
    EXPECT_EQ(CookieToSend(handed), QStringLiteral("sid=1; theme=dark"));
    const DownloadRecord& typed = engine.list.DownloadList[2];
    EXPECT_TRUE(typed.Referer.isEmpty());
    EXPECT_TRUE(typed.Reserved5.isEmpty());

    // The entry waits in the queue; handed over again, it goes on with the newer cookie.
    call(QStringLiteral("MenuURL"), {url, QString(), QStringLiteral("sid=2")});
    EXPECT_EQ(engine.list.DownloadCount, 2);
    EXPECT_EQ(CookieToSend(engine.list.DownloadList[1]), QStringLiteral("sid=2"));
    EXPECT_EQ(engine.list.DownloadList[1].Referer,
              QStringLiteral("https://shop.example/list.html"));
    EXPECT_EQ(prompts.errors, QStringList{});
}

// A second program claiming the name finds it taken; the first keeps serving.
TEST_F(AutomationEntry, TheNameHasOneOwner) {
    QDBusConnection other = QDBusConnection::connectToBus(bus.address(), QStringLiteral("second"));
    Velmora second([](const QString&, const QString&, const QString&, const Checksum&) {
        ADD_FAILURE() << "the second owner was called";
    });
    EXPECT_NE(second.publish(other), QString());
    EXPECT_EQ(ieurl(QStringLiteral("http://127.0.0.1:9/i.zip")), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("second"));
}
