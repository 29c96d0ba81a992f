// The browsers' side of the options: browsers found on a PATH of the test's own (fake programs
// that only note how they were started), the launcher's native-messaging manifests written and
// removed, the extension page opened with an argument list, the autostart entry and the link
// menu file. No real browser is ever started here.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <functional>

#include "core/settings/browser_hook_files.h"
#include "integration/autostart/autostart_entry.h"
#include "integration/browsers/browser_integration.h"
#include "integration/browsers/context_menu.h"
#include "integration/browsers/extension_ids.h"
#include "integration/browsers/native_host_manifest.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

using Family = BrowserFamily;

// A program that appends one line per start to `mark`: each argument in brackets.
bool WriteRecorder(const QString& path, const QString& mark) {
    const QByteArray script = "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" +
                              mark.toUtf8() + "'\necho >> '" + mark.toUtf8() + "'\n";
    return WriteFile(path, script) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

struct BrowserSetupTest : ::testing::Test {
    Sandbox box;
    QString bin = box.file(QStringLiteral("bin"));
    QString home = box.file(QStringLiteral("home"));
    QString config = box.file(QStringLiteral("home/.config"));
    QString launcher = box.file(QStringLiteral("Velmora Launcher/VelmoraLauncher"));
    QString mark = box.file(QStringLiteral("started"));
    QStringList started;  // what the integration asked to start, "program|arg|arg"

    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(bin));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(launcher).path()));
        ASSERT_TRUE(WriteRecorder(launcher, mark));
    }
    // Fake browsers of these program names on the test's PATH.
    void install(const QStringList& programs) {
        for (const QString& name : programs) {
            ASSERT_TRUE(WriteRecorder(QDir(bin).filePath(name), mark));
        }
    }
    BrowserIntegration::Setup setup(bool recordStarts = true) {
        BrowserIntegration::Setup s;
        s.places = {home, config, {box.file(QStringLiteral("empty")), bin}};
        s.launcher = launcher;
        s.packageFolders = {box.file(QStringLiteral("app")), box.file(QStringLiteral("share"))};
        if (recordStarts) {
            s.start = [this](const QString& program, const QStringList& arguments) {
                started << (QStringList{program} + arguments).join(u'|');
                return true;
            };
        }
        return s;
    }
    QString manifest(const char* folder) const {
        return QDir(home).filePath(QLatin1String(folder)) +
               QStringLiteral("/velmoraproject.velmora_launcher.json");
    }
};

QJsonObject ReadJson(const QString& path) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(ReadFile(path), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << path.toStdString();
    return document.object();
}

}  // namespace

TEST_F(BrowserSetupTest, FindsTheBrowsersOnThePathAndTellsTheFamiliesApart) {
    install({QStringLiteral("chromium-browser"), QStringLiteral("google-chrome-stable"),
             QStringLiteral("firefox-esr"), QStringLiteral("librewolf")});
    // Not a program: no execute right.
    ASSERT_TRUE(WriteFile(QDir(bin).filePath(QStringLiteral("seamonkey")), "#!/bin/sh\n"));
    BrowserIntegration browsers(setup());
    QStringList names;
    for (const FoundBrowser& found : browsers.found()) {
        names << found.kind.name + u'=' + QFileInfo(found.program).fileName();
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Chromium=chromium-browser"),
                                  QStringLiteral("Google Chrome=google-chrome-stable"),
                                  QStringLiteral("Firefox=firefox-esr"),
                                  QStringLiteral("LibreWolf=librewolf")}));
    EXPECT_EQ(browsers.program(Family::Firefox), QDir(bin).filePath(QStringLiteral("firefox-esr")));
    EXPECT_TRUE(browsers.familyFound(Family::Chromium));
    EXPECT_FALSE(browsers.familyFound(Family::SeaMonkey));

    // Installed later: found when the window is filled again.
    install({QStringLiteral("brave-browser")});
    browsers.refresh();
    EXPECT_EQ(browsers.found().size(), 5);
}

TEST_F(BrowserSetupTest, ManifestsGoToTheBrowsersFoundAndNameTheLauncher) {
    install({QStringLiteral("chromium"), QStringLiteral("vivaldi"), QStringLiteral("firefox"),
             QStringLiteral("librewolf"), QStringLiteral("seamonkey")});
    BrowserIntegration browsers(setup());
    ASSERT_EQ(browsers.setFamily(Family::Chromium, true, {Family::Chromium}), 773);
    ASSERT_EQ(browsers.setFamily(Family::Firefox, true, {Family::Chromium, Family::Firefox}), 773);

    struct Expected {
        const char* folder;
        bool chromium;
    };
    for (const Expected& e : {Expected{".config/chromium/NativeMessagingHosts", true},
                              Expected{".config/vivaldi/NativeMessagingHosts", true},
                              Expected{".mozilla/native-messaging-hosts", false},
                              Expected{".librewolf/native-messaging-hosts", false}}) {
        SCOPED_TRACE(e.folder);
        const QJsonObject json = ReadJson(manifest(e.folder));
        // The name must be the file's own name, and browsers take only lower case, digits, dots
        // and underscores in it.
        EXPECT_EQ(json.value(QStringLiteral("name")).toString(),
                  QStringLiteral("velmoraproject.velmora_launcher"));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-z0-9._]+$"))
                        .match(json.value(QStringLiteral("name")).toString())
                        .hasMatch());
        EXPECT_EQ(json.value(QStringLiteral("path")).toString(), launcher);
        EXPECT_EQ(json.value(QStringLiteral("type")).toString(), QStringLiteral("stdio"));
        if (e.chromium) {
            EXPECT_EQ(json.value(QStringLiteral("allowed_origins")).toArray(),
                      QJsonArray{QStringLiteral("chrome-extension://%1/")
                                     .arg(QLatin1String(BrowserExtension::ChromiumId))});
        } else {
            EXPECT_EQ(json.value(QStringLiteral("allowed_extensions")).toArray(),
                      QJsonArray{QLatin1String(BrowserExtension::GeckoId)});
        }
    }
    // Browsers not found get nothing.
    EXPECT_FALSE(QFile::exists(manifest(".config/google-chrome/NativeMessagingHosts")));
    EXPECT_FALSE(
        QFile::exists(manifest(".config/BraveSoftware/Brave-Browser/NativeMessagingHosts")));
    // Written whole: nothing but the manifest in the folder.
    EXPECT_EQ(QDir(QFileInfo(manifest(".mozilla/native-messaging-hosts")).path())
                  .entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("velmoraproject.velmora_launcher.json")});
}

TEST_F(BrowserSetupTest, OffRemovesTheFamilysManifestsButKeepsWhatAnotherBoxShares) {
    install({QStringLiteral("chromium"), QStringLiteral("firefox"), QStringLiteral("librewolf"),
             QStringLiteral("seamonkey")});
    BrowserIntegration browsers(setup());
    const QSet<Family> all{Family::Chromium, Family::SeaMonkey, Family::Firefox};
    for (Family f : all) {
        ASSERT_EQ(browsers.setFamily(f, true, all), 773);
    }
    const QString mozilla = manifest(".mozilla/native-messaging-hosts");
    const QString librewolf = manifest(".librewolf/native-messaging-hosts");
    const QString chromium = manifest(".config/chromium/NativeMessagingHosts");
    // A manifest left by a browser uninstalled since goes as well.
    const QString gone = manifest(".config/google-chrome/NativeMessagingHosts");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(gone).path()));
    ASSERT_TRUE(WriteFile(gone, "{}"));

    EXPECT_EQ(browsers.setFamily(Family::Firefox, false, {Family::Chromium, Family::SeaMonkey}),
              774);
    EXPECT_TRUE(QFile::exists(mozilla)) << "SeaMonkey still reads it";
    EXPECT_FALSE(QFile::exists(librewolf));
    EXPECT_EQ(browsers.setFamily(Family::SeaMonkey, false, {Family::Chromium}), 774);
    EXPECT_FALSE(QFile::exists(mozilla));
    EXPECT_EQ(browsers.setFamily(Family::Chromium, false, {}), 774);
    EXPECT_FALSE(QFile::exists(chromium));
    EXPECT_FALSE(QFile::exists(manifest(".config/google-chrome/NativeMessagingHosts")));
    // Already gone: still removed, quietly.
    EXPECT_EQ(browsers.setFamily(Family::Chromium, false, {}), 774);
}

TEST_F(BrowserSetupTest, NoLauncherOrNoWritableFolderGives772AndWritesNothing) {
    install({QStringLiteral("chromium"), QStringLiteral("firefox")});
    struct Row {
        const char* what;
        std::function<void(BrowserIntegration::Setup&)> change;
    };
    const Row rows[] = {
        {"launcher missing",
         [this](BrowserIntegration::Setup& s) {
             s.launcher = box.file(QStringLiteral("nothing"));
         }},
        {"launcher not found at all", [](BrowserIntegration::Setup& s) { s.launcher.clear(); }},
        {"launcher not a program",
         [this](BrowserIntegration::Setup& s) {
             s.launcher = box.file(QStringLiteral("plain"));
             ASSERT_TRUE(WriteFile(s.launcher, "x"));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        BrowserIntegration::Setup s = setup();
        row.change(s);
        BrowserIntegration browsers(s);
        EXPECT_EQ(browsers.setFamily(Family::Chromium, true, {Family::Chromium}), 772);
        EXPECT_FALSE(browsers.why().isEmpty());
        EXPECT_FALSE(QFile::exists(manifest(".config/chromium/NativeMessagingHosts")));
    }
    // A file where the browser's folder should be.
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_TRUE(WriteFile(QDir(home).filePath(QStringLiteral(".mozilla")), "in the way"));
    BrowserIntegration browsers(setup());
    EXPECT_EQ(browsers.setFamily(Family::Firefox, true, {Family::Firefox}), 772);
    EXPECT_TRUE(browsers.why().contains(QStringLiteral(".mozilla")));
}

TEST_F(BrowserSetupTest, TheBrowserIsStartedWhereTheExtensionIsAddedOrRemoved) {
    install({QStringLiteral("google-chrome"), QStringLiteral("firefox")});
    const QString chrome = QDir(bin).filePath(QStringLiteral("google-chrome"));
    const QString firefox = QDir(bin).filePath(QStringLiteral("firefox"));
    BrowserIntegration browsers(setup());
    EXPECT_TRUE(browsers.openExtensionPage(Family::Chromium, true));
    EXPECT_TRUE(browsers.openExtensionPage(Family::Chromium, false));
    EXPECT_TRUE(browsers.openExtensionPage(Family::Firefox, true));  // no package yet
    const QString package = box.file(QStringLiteral("share/Brenloft.xpi"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(package).path()));
    ASSERT_TRUE(WriteFile(package, "PK"));
    EXPECT_TRUE(browsers.openExtensionPage(Family::Firefox, true));
    EXPECT_TRUE(browsers.openExtensionPage(Family::Firefox, false));
    EXPECT_FALSE(browsers.openExtensionPage(Family::SeaMonkey, true)) << "not installed";
    EXPECT_EQ(started,
              (QStringList{chrome + QStringLiteral("|chrome://extensions/"),
                           chrome + QStringLiteral("|chrome://extensions/"),
                           firefox + QStringLiteral("|about:addons"), firefox + u'|' + package,
                           firefox + QStringLiteral("|about:addons")}));
}

TEST_F(BrowserSetupTest, TheRealStartPassesTheArgumentWholeWithoutAShell) {
    install({QStringLiteral("firefox")});
    // Blanks, quotes and a shell's specials in the package's folder.
    const QString folder = box.file(QStringLiteral("a b \"c\" $(touch x); d"));
    const QString package = QDir(folder).filePath(QStringLiteral("Brenloft.xpi"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteFile(package, "PK"));
    BrowserIntegration::Setup s = setup(false);
    s.packageFolders = {folder};
    BrowserIntegration browsers(s);
    ASSERT_TRUE(browsers.openExtensionPage(Family::Firefox, true));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(mark); }));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(mark).endsWith('\n'); }));
    EXPECT_EQ(ReadFile(mark), (u'[' + package + QStringLiteral("]\n")).toUtf8());
    EXPECT_FALSE(QFile::exists(QStringLiteral("x")));
}

TEST(BrowserExtension, TheChromiumIdIsTheOneItsKeyGives) {
    // Chromium's rule: the first 32 hex digits of the key's SHA-256, 0-f written as a-p.
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray::fromBase64(BrowserExtension::ChromiumKey), QCryptographicHash::Sha256);
    QString id;
    for (const char digit : hash.toHex().left(32)) {
        id += QChar(u'a' + QByteArray(1, digit).toInt(nullptr, 16));
    }
    EXPECT_EQ(id, QLatin1String(BrowserExtension::ChromiumId));
}

TEST(AutoStart, TheEntryStartsThisProgramSilentlyAndGoesWhenOff) {
    Sandbox box;
    const QString config = box.file(QStringLiteral("config"));
    const AutoStartEntry entry(QStringLiteral("/opt/Bren loft/bin/Brenloft"), config);
    EXPECT_EQ(entry.path(), config + QStringLiteral("/autostart/VelmoraAutoStart.desktop"));
    ASSERT_TRUE(entry.set(true));
    const QString text = QString::fromUtf8(ReadFile(entry.path()));
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nType=Application\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=\"/opt/Bren loft/bin/Brenloft\" /silent\n")));
    ASSERT_TRUE(entry.set(true)) << "rewritten";
    EXPECT_EQ(QDir(config + QStringLiteral("/autostart")).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("VelmoraAutoStart.desktop")});
    ASSERT_TRUE(entry.set(false));
    EXPECT_FALSE(QFile::exists(entry.path()));
    EXPECT_TRUE(entry.set(false)) << "already gone is no failure";

    // Each special character escaped for the quotes, then backslashes again for the file.
    const struct {
        const char* path;
        const char* exec;
    } rows[] = {
        {"/usr/bin/Brenloft", R"("/usr/bin/Brenloft")"},
        {"/a \"b\"/B", R"("/a \\"b\\"/B")"},
        {"/a$HOME/`x`/B", R"("/a\\$HOME/\\`x\\`/B")"},
        {"/a\\b/B", R"("/a\\\\b/B")"},
        {"/100%/B", R"("/100%%/B")"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DesktopExecArgument(QString::fromUtf8(row.path)), QString::fromUtf8(row.exec))
            << row.path;
    }
}

TEST(ContextMenu, FollowsTheSettingThroughItsFile) {
    Sandbox box;
    ASSERT_TRUE(SetContextMenu(true, box.path()));
    EXPECT_TRUE(ContextMenuInstalled(box.path()));
    ASSERT_TRUE(SetContextMenu(false, box.path()));
    EXPECT_FALSE(ContextMenuInstalled(box.path()));
}
