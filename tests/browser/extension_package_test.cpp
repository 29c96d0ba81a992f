// The extension as the build leaves it for browsers: the unpacked folder for the Chromium
// family and Brenloft.xpi for Mozilla's, made from one source, with the ids the launcher's
// host manifests allow and every text in both languages.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include "integration/browsers/extension_ids.h"
#include "integration/browsers/native_host_manifest.h"
#include "tests/support/test_files.h"

namespace {

QString BrowserFolder() {
    return QStringLiteral(BRENLOFT_BINARY_DIR "/share/brenloft/browser");
}
QString ChromiumFolder() {
    return BrowserFolder() + QStringLiteral("/chromium");
}
QString Package() {
    return BrowserFolder() + QStringLiteral("/Brenloft.xpi");
}

// A member of the package, read with unzip as any ZIP reader would.
QByteArray PackageMember(const QString& name) {
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), Package(), name});
    unzip.waitForFinished(30000);
    return unzip.exitCode() == 0 ? unzip.readAllStandardOutput() : QByteArray();
}

QSet<QString> PackageMembers() {
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), Package()});
    unzip.waitForFinished(30000);
    QSet<QString> names;
    for (const QString& line : QString::fromUtf8(unzip.readAllStandardOutput()).split(u'\n')) {
        if (!line.isEmpty() && !line.endsWith(u'/')) {
            names.insert(line);
        }
    }
    return names;
}

QSet<QString> FolderFiles(const QString& folder) {
    QSet<QString> names;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        names.insert(QDir(folder).relativeFilePath(it.next()));
    }
    return names;
}

QJsonObject Json(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

// Chromium's id for an extension: the SHA-256 of its public key, the first 16 bytes written
// in hexadecimal with the letters a-p for the digits 0-f.
QString ChromiumIdOf(const QString& base64Key) {
    const QByteArray hex = QCryptographicHash::hash(QByteArray::fromBase64(base64Key.toLatin1()),
                                                    QCryptographicHash::Sha256)
                               .left(16)
                               .toHex();
    QString id;
    for (const char digit : hex) {
        id += QChar(u'a' + QByteArray(1, digit).toInt(nullptr, 16));
    }
    return id;
}

}  // namespace

TEST(ExtensionPackage, ChromiumFolderAndFirefoxPackageHoldTheSameFiles) {
    const QSet<QString> chromium = FolderFiles(ChromiumFolder());
    const QSet<QString> package = PackageMembers();
    EXPECT_TRUE(chromium.contains(QStringLiteral("manifest.json")));
    EXPECT_EQ(chromium, package);
    EXPECT_FALSE(chromium.contains(QStringLiteral("package.json"))) << "a test aid, not shipped";
    for (const QString& name : chromium) {
        if (name != u"manifest.json") {
            EXPECT_EQ(ReadFile(ChromiumFolder() + u'/' + name), PackageMember(name))
                << name.toStdString();
        }
    }
}

// The ids the launcher's host manifests allow are the ones the browsers give the extension.
TEST(ExtensionPackage, ManifestsCarryTheIdsTheHostManifestsAllow) {
    const QJsonObject chromium =
        Json(ReadFile(ChromiumFolder() + QStringLiteral("/manifest.json")));
    const QJsonObject firefox = Json(PackageMember(QStringLiteral("manifest.json")));
    ASSERT_FALSE(chromium.isEmpty());
    ASSERT_FALSE(firefox.isEmpty());

    const QString key = chromium.value(QLatin1String("key")).toString();
    EXPECT_EQ(key, QLatin1String(BrowserExtension::ChromiumKey));
    EXPECT_EQ(ChromiumIdOf(key), QLatin1String(BrowserExtension::ChromiumId));
    const QJsonObject hostForChromium =
        Json(NativeHostManifest(BrowserFamily::Chromium, QStringLiteral("/x/VelmoraLauncher")));
    EXPECT_EQ(hostForChromium.value(QLatin1String("allowed_origins")).toArray().first(),
              QStringLiteral("chrome-extension://%1/").arg(ChromiumIdOf(key)));

    const QString geckoId = firefox.value(QLatin1String("browser_specific_settings"))
                                .toObject()
                                .value(QLatin1String("gecko"))
                                .toObject()
                                .value(QLatin1String("id"))
                                .toString();
    EXPECT_EQ(geckoId, QLatin1String(BrowserExtension::GeckoId));
    const QJsonObject hostForFirefox =
        Json(NativeHostManifest(BrowserFamily::Firefox, QStringLiteral("/x/VelmoraLauncher")));
    EXPECT_EQ(hostForFirefox.value(QLatin1String("allowed_extensions")).toArray().first(), geckoId);
}

// The two manifests differ only where the browsers do: the key, Firefox's settings and the
// kind of background (a service worker for Chromium, an event page for Firefox).
TEST(ExtensionPackage, ManifestsDifferOnlyWhereTheBrowsersDo) {
    QJsonObject chromium = Json(ReadFile(ChromiumFolder() + QStringLiteral("/manifest.json")));
    QJsonObject firefox = Json(PackageMember(QStringLiteral("manifest.json")));
    EXPECT_EQ(chromium.value(QLatin1String("background")).toObject(),
              (QJsonObject{{QStringLiteral("service_worker"), QStringLiteral("background.js")},
                           {QStringLiteral("type"), QStringLiteral("module")}}));
    EXPECT_EQ(firefox.value(QLatin1String("background")).toObject(),
              (QJsonObject{{QStringLiteral("scripts"), QJsonArray{QStringLiteral("background.js")}},
                           {QStringLiteral("type"), QStringLiteral("module")}}));
    EXPECT_EQ(chromium.value(QLatin1String("version")).toString(),
              QStringLiteral(BRENLOFT_VERSION));
    EXPECT_EQ(chromium.value(QLatin1String("manifest_version")).toInt(), 3);
    for (const char* key : {"key", "background", "browser_specific_settings"}) {
        chromium.remove(QLatin1String(key));
        firefox.remove(QLatin1String(key));
    }
    EXPECT_EQ(chromium, firefox);
    const QJsonArray permissions = chromium.value(QLatin1String("permissions")).toArray();
    for (const char* needed : {"contextMenus", "cookies", "downloads", "nativeMessaging"}) {
        EXPECT_TRUE(permissions.contains(QLatin1String(needed))) << needed;
    }

    // Every file a manifest names is there.
    const QSet<QString> files = FolderFiles(ChromiumFolder());
    QStringList named = {QStringLiteral("background.js"),
                         chromium.value(QLatin1String("options_ui"))
                             .toObject()
                             .value(QLatin1String("page"))
                             .toString()};
    for (const QJsonValue icon : chromium.value(QLatin1String("icons")).toObject()) {
        named << icon.toString();
    }
    for (const QJsonValue script : chromium.value(QLatin1String("content_scripts")).toArray()) {
        for (const QJsonValue js : script.toObject().value(QLatin1String("js")).toArray()) {
            named << js.toString();
        }
    }
    for (const QString& name : named) {
        EXPECT_TRUE(files.contains(name)) << name.toStdString();
    }
}

// Every text the extension asks for exists in English and in French; every text there is used.
TEST(ExtensionPackage, EveryTextIsThereInBothLanguages) {
    const QString folder = ChromiumFolder();
    QSet<QString> asked;
    QString sources;
    const QRegularExpression call(QStringLiteral(R"re((?:getMessage|text)\("(\w+)")re"));
    const QRegularExpression attribute(QStringLiteral(R"re(data-text="(\w+)")re"));
    for (const QString& name : FolderFiles(folder)) {
        if (!name.endsWith(u".js") && !name.endsWith(u".html")) {
            continue;
        }
        const QString source = QString::fromUtf8(ReadFile(folder + u'/' + name));
        sources += source;
        for (const QRegularExpression* pattern : {&call, &attribute}) {
            for (auto it = pattern->globalMatch(source); it.hasNext();) {
                asked.insert(it.next().captured(1));
            }
        }
    }
    EXPECT_TRUE(asked.contains(QStringLiteral("menuEntry")));
    const auto keysOf = [&](const char* language) {
        const QJsonObject messages = Json(ReadFile(
            folder + QStringLiteral("/_locales/%1/messages.json").arg(QLatin1String(language))));
        for (const QString& key : messages.keys()) {
            EXPECT_FALSE(
                messages.value(key).toObject().value(QLatin1String("message")).toString().isEmpty())
                << language << ' ' << key.toStdString();
        }
        const QStringList keys = messages.keys();
        return QSet<QString>(keys.begin(), keys.end());
    };
    const QSet<QString> english = keysOf("en");
    EXPECT_EQ(keysOf("fr"), english);
    EXPECT_TRUE(english.contains(asked)) << "asked for but missing";
    for (const QString& key : english) {
        // The modes are looked up by number, the description by the manifest.
        const bool used =
            sources.contains(u'"' + key + u'"') || key.startsWith(u"mode") || key == u"description";
        EXPECT_TRUE(used) << key.toStdString() << " is never used";
    }
}
