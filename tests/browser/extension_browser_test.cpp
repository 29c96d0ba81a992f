// The extension in real browsers, headless: Debian's Chromium and Firefox ESR, each with a
// fresh profile, the extension as the build leaves it and the launcher's host manifest as the
// options window writes it; a running Brenloft (offscreen) on a private session bus; a page
// with links on a local nginx that sets cookies and logs the headers it receives.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <memory>
#include <optional>
#include <ostream>

#include "core/settings/browser_hook_files.h"
#include "integration/browsers/extension_ids.h"
#include "integration/browsers/native_host_manifest.h"
#include "tests/app/brenloft_program.h"
#include "tests/browser/browser_driver.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/private_bus.h"
#include "tests/support/test_files.h"

namespace {

using namespace std::chrono_literals;

struct Browser {
    const char* name;
    const char* program;
    BrowserFamily family;
};

const Browser Browsers[] = {
    {"Chromium", "/usr/bin/chromium", BrowserFamily::Chromium},
    {"Firefox", "/usr/bin/firefox-esr", BrowserFamily::Firefox},
};

void PrintTo(const Browser& browser, std::ostream* out) {
    *out << browser.name;
}

// The address Firefox gives the extension's pages in the test profiles.
constexpr char FirefoxUuid[] = "4b1b0e0a-6a0c-4a59-9d55-0d1e4bd1a001";

const QString Cookies = QStringLiteral("pref=1; sid=s3cr3t");

// Files Brenloft fetches are large, so a browser that started one (at 64 KiB/s) is still at
// it when the extension takes it over; files the browser keeps are small.
constexpr qsizetype TakenSize = 2 * 1024 * 1024;
constexpr qsizetype KeptSize = 96 * 1024;

const char Page[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Files</title></head><body>
<p><a id="menu" href="/files/menu.bin">by the menu</a></p>
<p><a id="taken" href="/files/taken.bin">taken</a></p>
<p><a id="plain" href="/files/plain.bin">plain</a></p>
<p><a id="ctrl" href="/files/ctrl.bin">with Ctrl</a></p>
<p><a id="never" href="/files/never.bin">never</a></p>
<p><a id="blob" download="made.txt">made in the page</a></p>
<p><a id="sentinel" href="/files/sentinel.bin">sentinel</a></p>
<p><a id="activated" href="/files/activated.bin">while Brenloft is not running</a></p>
<script>
document.getElementById("blob").href =
    URL.createObjectURL(new Blob(["made in the page\n"], {type: "text/plain"}));
</script>
</body></html>
)";

QJsonObject Command(const char* name, QJsonObject arguments = {}) {
    arguments.insert(QStringLiteral("do"), QLatin1String(name));
    return arguments;
}

class ExtensionInBrowser : public ::testing::TestWithParam<Browser> {
protected:
    void SetUp() override {
        if (!QFile::exists(QLatin1String(GetParam().program))) {
            GTEST_SKIP() << GetParam().program << " is not installed (tools/test installs it)";
        }
        ASSERT_NO_FATAL_FAILURE(serveFiles());
        const QString services = home.path(QStringLiteral("data/dbus-1/services"));
        ASSERT_TRUE(QDir().mkpath(services));
        ASSERT_TRUE(bus.start(QStringLiteral("session"), services)) << bus.error().toStdString();
        home.setSessionBus(bus.address());
        caller = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("caller")));
        ASSERT_TRUE(caller->isConnected());
        ASSERT_TRUE(giveBusTheHomeEnvironment());
        ASSERT_TRUE(QDir().mkpath(home.app()));
        ASSERT_TRUE(WriteIeModeFile(home.app(), 0));
        ASSERT_TRUE(QDir().mkpath(browserDownloads()));
    }

    void TearDown() override {
        driver.reset();
        run.reset();
        if (activated > 0) {
            ::kill(static_cast<pid_t>(activated), SIGTERM);
            WaitFor([this] { return !ProcessAlive(activated); }, 30s);
        }
        caller.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
    }

    void serveFiles() {
        const QString www = home.path(QStringLiteral("www"));
        ASSERT_TRUE(QDir().mkpath(www + QStringLiteral("/files")));
        ASSERT_TRUE(WriteFile(www + QStringLiteral("/page.html"), Page));
        for (const char* name : {"menu", "taken", "ctrl", "activated", "sentinel"}) {
            files[QLatin1String(name)] = RandomBytes(TakenSize);
        }
        for (const char* name : {"plain", "never"}) {
            files[QLatin1String(name)] = RandomBytes(KeptSize);
        }
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            ASSERT_TRUE(WriteFile(www + QStringLiteral("/files/%1.bin").arg(it.key()), it.value()));
        }
        nginx = std::make_unique<NginxPeer>(www);
        nginx->logRequestHeaders();
        // The page gives the browser the cookies a hand-over must bring along.
        nginx->addLocation(
            QStringLiteral("location = /page.html { add_header Set-Cookie \"sid=s3cr3t; Path=/\"; "
                           "add_header Set-Cookie \"pref=1; Path=/files\"; }"));
        // Browsers get the files slowly, Brenloft at full speed.
        nginx->addLocation(
            QStringLiteral("location /files/ { set $limit_rate 65536; "
                           "if ($http_user_agent ~ \"^Brenloft/\") { set $limit_rate 0; } "
                           "add_header Content-Disposition attachment; }"));
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
    }

    // Programs the bus starts get the sandboxed home, as the user's session gives them theirs.
    bool giveBusTheHomeEnvironment() {
        return PrivateBus::SetActivationEnvironment(*caller, home.environment());
    }

    bool served() {
        return caller->interface()->isServiceRegistered(QStringLiteral("VelmoraProject.Velmora"));
    }

    void startBrenloft() {
        run = std::make_unique<BrenloftRun>(home);
        ASSERT_TRUE(run->start());
        ASSERT_TRUE(WaitFor([this] { return served(); }, 60s)) << "Brenloft took the bus name";
    }

    QString browserDownloads() const { return home.path(QStringLiteral("browser-downloads")); }
    QString profile() const { return home.path(QStringLiteral("profile")); }
    bool chromium() const { return GetParam().family == BrowserFamily::Chromium; }

    // The launcher's host manifest where this browser looks for it, as the options window
    // writes it: Chromium reads its profile's folder, Firefox the one in the home folder.
    void installHostManifest() {
        const QString folder = chromium() ? profile() + QStringLiteral("/NativeMessagingHosts")
                                          : home.path(QStringLiteral("home/.mozilla/"
                                                                     "native-messaging-hosts"));
        ASSERT_EQ(
            WriteNativeHostManifest(
                folder, NativeHostManifest(GetParam().family, QStringLiteral(VELMORA_LAUNCHER))),
            QString());
    }

    void startBrowser() {
        installHostManifest();
        QProcessEnvironment env = home.environment();
        driver = std::make_unique<BrowserDriver>();
        ASSERT_TRUE(driver->start(QStringLiteral(BROWSER_DRIVER_DIR), env))
            << driver->error().toStdString();
        const QString browserFolder = QStringLiteral(BRENLOFT_BINARY_DIR "/share/brenloft/browser");
        const QString origin =
            chromium() ? QStringLiteral("chrome-extension://%1")
                             .arg(QLatin1String(BrowserExtension::ChromiumId))
                       : QStringLiteral("moz-extension://%1").arg(QLatin1String(FirefoxUuid));
        const QJsonObject started = driver->ask(
            Command("start", {{QStringLiteral("kind"),
                               chromium() ? QStringLiteral("chromium") : QStringLiteral("firefox")},
                              {QStringLiteral("executable"), QLatin1String(GetParam().program)},
                              {QStringLiteral("profile"), profile()},
                              {QStringLiteral("downloads"), browserDownloads()},
                              {QStringLiteral("extension"),
                               browserFolder + (chromium() ? QStringLiteral("/chromium")
                                                           : QStringLiteral("/Brenloft.xpi"))},
                              {QStringLiteral("uuid"), QLatin1String(FirefoxUuid)},
                              {QStringLiteral("origin"), origin}}));
        ASSERT_TRUE(Ok(started));
        driver->setBrowserPid(started.value(QLatin1String("pid")).toInteger());
        EXPECT_EQ(started.value(QLatin1String("id")).toString(),
                  chromium() ? QLatin1String(BrowserExtension::ChromiumId)
                             : QLatin1String(BrowserExtension::GeckoId));
        ASSERT_TRUE(Ok(driver->ask(
            Command("open", {{QStringLiteral("url"), nginx->url(QStringLiteral("/page.html"))}}))));
    }

    QJsonObject choices() {
        const QJsonObject shown = driver->ask(Command("choices"));
        EXPECT_TRUE(Ok(shown));
        return shown;
    }
    bool menuShown() {
        const QJsonObject answer = driver->ask(Command("menuShown"));
        EXPECT_TRUE(Ok(answer));
        return answer.value(QLatin1String("shown")).toBool();
    }
    QJsonObject menu(const QString& id) {
        const QJsonObject answer =
            driver->ask(Command("menu", {{QStringLiteral("selector"), u'#' + id}}));
        EXPECT_TRUE(Ok(answer));
        return answer.value(QLatin1String("answer")).toObject();
    }
    void click(const QString& id, bool ctrl) {
        EXPECT_TRUE(Ok(driver->ask(Command(
            "click", {{QStringLiteral("selector"), u'#' + id}, {QStringLiteral("ctrl"), ctrl}}))));
    }
    // The browser's own downloads whose address ends so.
    QList<QJsonObject> browserDownloadsOf(const QString& ending) {
        QList<QJsonObject> found;
        const QJsonObject answer = driver->ask(Command("downloads"));
        EXPECT_TRUE(Ok(answer));
        for (const QJsonValue item : answer.value(QLatin1String("downloads")).toArray()) {
            if (item.toObject().value(QLatin1String("url")).toString().endsWith(ending)) {
                found << item.toObject();
            }
        }
        return found;
    }

    QString fileUrl(const QString& name) const {
        return nginx->url(QStringLiteral("/files/%1.bin").arg(name));
    }
    QString pageUrl() const { return nginx->url(QStringLiteral("/page.html")); }

    // The entry for the file in the list as Brenloft last saved it, or none.
    std::optional<DownloadRecord> listed(const QString& name) const {
        DownloadListState list;
        if (!home.savedList(list)) {
            return std::nullopt;
        }
        const int slot = SlotOf(list, fileUrl(name));
        return slot > 0 ? std::optional(list.DownloadList[slot]) : std::nullopt;
    }

    // Brenloft has the file, whole.
    void expectFetchedByBrenloft(const QString& name) {
        SCOPED_TRACE(name.toStdString());
        std::optional<DownloadRecord> r;
        ASSERT_TRUE(WaitFor(
            [&] {
                r = listed(name);
                return r && r->Completed == FlagTrue;
            },
            120s))
            << (r ? "listed, not finished" : "not listed");
        EXPECT_EQ(FileSha256(r->SavePath), Sha256(files.value(name))) << r->SavePath.toStdString();
        // Every request Brenloft made for it carried the page and the browser's cookies.
        const QList<NginxPeer::LoggedRequest> requests = brenloftRequests(name);
        EXPECT_GE(requests.size(), 2) << "the probe and the segments";
        int segments = 0;
        for (const NginxPeer::LoggedRequest& request : requests) {
            EXPECT_EQ(request.referer, pageUrl()) << request.request.toStdString();
            EXPECT_EQ(request.cookie, Cookies) << request.request.toStdString();
            segments += request.range.startsWith(u"bytes=") && request.range != u"bytes=0-";
        }
        EXPECT_GE(segments, 2) << "segment requests";
    }

    // The browser has the file, whole, and Brenloft never asked for it.
    void expectKeptByBrowser(const QString& name) {
        SCOPED_TRACE(name.toStdString());
        QList<QJsonObject> found;
        ASSERT_TRUE(WaitFor(
            [&] {
                found = browserDownloadsOf(QStringLiteral("/%1.bin").arg(name));
                return found.size() == 1 &&
                       found[0].value(QLatin1String("state")).toString() == u"complete";
            },
            60s));
        EXPECT_EQ(FileSha256(found[0].value(QLatin1String("filename")).toString()),
                  Sha256(files.value(name)));
    }

    QList<NginxPeer::LoggedRequest> requestsFor(const QString& name, bool brenloft) const {
        QList<NginxPeer::LoggedRequest> found;
        const QString line = QStringLiteral("GET /files/%1.bin ").arg(name);
        for (const NginxPeer::LoggedRequest& request : nginx->headerLog()) {
            if (request.request.startsWith(line) &&
                request.userAgent.startsWith(u"Brenloft/") == brenloft) {
                found << request;
            }
        }
        return found;
    }
    QList<NginxPeer::LoggedRequest> brenloftRequests(const QString& name) const {
        return requestsFor(name, true);
    }
    QList<NginxPeer::LoggedRequest> browserRequests(const QString& name) const {
        return requestsFor(name, false);
    }

    BrenloftHome home;
    QMap<QString, QByteArray> files;
    std::unique_ptr<NginxPeer> nginx;
    PrivateBus bus;
    std::unique_ptr<QDBusConnection> caller;
    std::unique_ptr<BrenloftRun> run;
    std::unique_ptr<BrowserDriver> driver;
    qint64 activated = 0;  // a Brenloft the bus started
};

}  // namespace

// The options page, the menu entry, and each mode on real clicks.
TEST_P(ExtensionInBrowser, HandsOverLinksAndDownloadsByTheMode) {
    ASSERT_TRUE(WriteContextMenuFile(home.app(), true));
    ASSERT_NO_FATAL_FAILURE(startBrenloft());
    ASSERT_NO_FATAL_FAILURE(startBrowser());

    QJsonObject shown = choices();
    EXPECT_EQ(shown.value(QLatin1String("answered")).toString(), u"yes");
    EXPECT_EQ(shown.value(QLatin1String("menu")).toString(), u"yes");
    EXPECT_EQ(shown.value(QLatin1String("mode")).toString(), u"0");
    EXPECT_TRUE(menuShown());

    // "Download with Brenloft": the browser never asks for the file itself.
    EXPECT_EQ(menu(QStringLiteral("menu")), (QJsonObject{{QStringLiteral("result"), 1}}));
    ASSERT_NO_FATAL_FAILURE(expectFetchedByBrenloft(QStringLiteral("menu")));
    EXPECT_EQ(browserRequests(QStringLiteral("menu")).size(), 0);

    // Mode 0: a click's download goes to Brenloft and leaves the browser's list.
    click(QStringLiteral("taken"), false);
    ASSERT_NO_FATAL_FAILURE(expectFetchedByBrenloft(QStringLiteral("taken")));
    EXPECT_TRUE(
        WaitFor([&] { return browserDownloadsOf(QStringLiteral("/taken.bin")).isEmpty(); }, 30s))
        << "cancelled and erased in the browser";
    EXPECT_FALSE(QFile::exists(browserDownloads() + QStringLiteral("/taken.bin")));
    // The browser's one request for it was cut short.
    for (const NginxPeer::LoggedRequest& request : browserRequests(QStringLiteral("taken"))) {
        EXPECT_LT(request.bodyBytes, TakenSize);
    }

    // Mode 1: only with Ctrl held.
    ASSERT_TRUE(WriteIeModeFile(home.app(), 1));
    click(QStringLiteral("plain"), false);
    ASSERT_NO_FATAL_FAILURE(expectKeptByBrowser(QStringLiteral("plain")));
    click(QStringLiteral("ctrl"), true);
    ASSERT_NO_FATAL_FAILURE(expectFetchedByBrenloft(QStringLiteral("ctrl")));

    // Mode 3: never. A blob the page made stays with the browser in any mode.
    ASSERT_TRUE(WriteIeModeFile(home.app(), 3));
    click(QStringLiteral("never"), false);
    ASSERT_NO_FATAL_FAILURE(expectKeptByBrowser(QStringLiteral("never")));
    ASSERT_TRUE(WriteIeModeFile(home.app(), 0));
    click(QStringLiteral("blob"), false);
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const QJsonObject& item : browserDownloadsOf(QString())) {
                if (item.value(QLatin1String("url")).toString().startsWith(u"blob:") &&
                    item.value(QLatin1String("state")).toString() == u"complete") {
                    return true;
                }
            }
            return false;
        },
        60s))
        << "the blob's download finished in the browser";

    // Whatever Brenloft was handed arrived before this.
    EXPECT_EQ(menu(QStringLiteral("sentinel")), (QJsonObject{{QStringLiteral("result"), 1}}));
    ASSERT_NO_FATAL_FAILURE(expectFetchedByBrenloft(QStringLiteral("sentinel")));
    for (const char* kept : {"plain", "never"}) {
        EXPECT_FALSE(listed(QLatin1String(kept))) << kept;
        EXPECT_EQ(brenloftRequests(QLatin1String(kept)).size(), 0) << kept;
    }
    DownloadListState list;
    ASSERT_TRUE(home.savedList(list));
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        EXPECT_FALSE(list.DownloadList[slot].Url.startsWith(u"blob:"));
    }

    // The menu entry goes when the user turned it off (Brenloft removes the file at its start).
    ASSERT_TRUE(WriteContextMenuFile(home.app(), false));
    shown = choices();
    EXPECT_EQ(shown.value(QLatin1String("menu")).toString(), u"no");
    EXPECT_EQ(shown.value(QLatin1String("mode")).toString(), u"0");
    EXPECT_FALSE(menuShown());
}

// With Brenloft not running, the launcher's call starts it through the bus's activation file
// (written by an earlier start), and the link with its page and cookies still arrives.
TEST_P(ExtensionInBrowser, StartsBrenloftThroughTheBusWhenItIsNotRunning) {
    ASSERT_NO_FATAL_FAILURE(startBrenloft());
    ASSERT_TRUE(run->stopWith(SIGTERM));
    run.reset();
    ASSERT_FALSE(served());
    ASSERT_EQ(
        caller
            ->call(QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")))
            .type(),
        QDBusMessage::ReplyMessage);
    startBrowser();

    const QJsonObject shown = choices();
    EXPECT_EQ(shown.value(QLatin1String("answered")).toString(), u"yes")
        << "the launcher answers without Brenloft";
    EXPECT_EQ(menu(QStringLiteral("activated")), (QJsonObject{{QStringLiteral("result"), 1}}));
    const QDBusReply<uint> pid =
        caller->interface()->servicePid(QStringLiteral("VelmoraProject.Velmora"));
    ASSERT_TRUE(pid.isValid()) << "the bus started Brenloft";
    activated = pid.value();
    ASSERT_NO_FATAL_FAILURE(expectFetchedByBrenloft(QStringLiteral("activated")));
}

INSTANTIATE_TEST_SUITE_P(Browsers, ExtensionInBrowser, ::testing::ValuesIn(Browsers),
                         [](const ::testing::TestParamInfo<Browser>& info) {
                             return std::string(info.param.name);
                         });
