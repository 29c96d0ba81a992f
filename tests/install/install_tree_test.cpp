// The tree `cmake --install` makes (the fixture installs into BRENLOFT_PREFIX first), its
// programs run from there, and the Debian package made from the same build.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "tests/app/brenloft_program.h"
#include "tests/support/get_command.h"
#include "tests/support/nginx_peer.h"

namespace {

const QString Prefix = QStringLiteral(BRENLOFT_PREFIX);
const QString Host = QStringLiteral("velmoraproject.velmora_launcher.json");

// Every file under `root`, relative to it, sorted.
QStringList FilesUnder(const QString& root) {
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << QDir(root).relativeFilePath(it.next());
    }
    files.sort();
    return files;
}

// What an installation holds, relative to its prefix. The extension's files are those the
// build tree holds, checked by the extension's own tests.
QStringList ExpectedFiles() {
    QStringList files{
        QStringLiteral("bin/Brenloft"),
        QStringLiteral("bin/VelmoraLauncher"),
        QStringLiteral("bin/brenloft-get"),
        QStringLiteral("bin/updater"),
        QStringLiteral("etc/chromium/native-messaging-hosts/") + Host,
        QStringLiteral("etc/opt/chrome/native-messaging-hosts/") + Host,
        QStringLiteral("lib/mozilla/native-messaging-hosts/") + Host,
        QStringLiteral("lib/systemd/user/brenloft-get.service"),
        QStringLiteral("share/applications/brenloft.desktop"),
        QStringLiteral("share/brenloft/lang/english.txt"),
        QStringLiteral("share/brenloft/lang/francais.txt"),
        QStringLiteral("share/dbus-1/services/VelmoraProject.Velmora.service"),
        QStringLiteral("share/doc/brenloft/changelog.gz"),
        QStringLiteral("share/doc/brenloft/copyright"),
        QStringLiteral("share/icons/hicolor/scalable/apps/brenloft.svg"),
        QStringLiteral("share/lintian/overrides/brenloft"),
        QStringLiteral("share/man/man1/Brenloft.1.gz"),
        QStringLiteral("share/man/man1/VelmoraLauncher.1.gz"),
        QStringLiteral("share/man/man1/updater.1.gz"),
        QStringLiteral("share/man/man1/brenloft-get.1.gz"),
        QStringLiteral("share/metainfo/io.velmora.Brenloft.metainfo.xml"),
    };
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        files << QStringLiteral("share/icons/hicolor/%1x%1/apps/brenloft.png").arg(size);
    }
    for (int level = 1; level <= 4; ++level) {
        files
            << QStringLiteral("share/icons/hicolor/scalable/apps/brenloft-speed-%1.svg").arg(level);
    }
    const QString browser = QStringLiteral(BRENLOFT_BINARY_DIR "/share/brenloft/browser");
    for (const QString& file : FilesUnder(browser)) {
        files << QStringLiteral("share/brenloft/browser/") + file;
    }
    files.sort();
    return files;
}

struct ToolRun {
    int exitCode = -1;
    QString output;
};

ToolRun RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ToolRun run;
    if (process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

QJsonObject JsonFile(const QString& path) {
    return QJsonDocument::fromJson(ReadFile(path)).object();
}

}  // namespace

TEST(InstallTree, HoldsWhatADesktopProgramInstalls) {
    EXPECT_EQ(FilesUnder(Prefix), ExpectedFiles());
}

TEST(InstallTree, DesktopFilesPassTheirValidators) {
    struct Check {
        QString tool;
        QStringList arguments;
    };
    const Check checks[] = {
        {QStringLiteral("desktop-file-validate"),
         {Prefix + QStringLiteral("/share/applications/brenloft.desktop")}},
        {QStringLiteral("appstreamcli"),
         {QStringLiteral("validate"), QStringLiteral("--no-net"),
          Prefix + QStringLiteral("/share/metainfo/io.velmora.Brenloft.metainfo.xml")}},
        {QStringLiteral("xmllint"),
         {QStringLiteral("--noout"),
          Prefix + QStringLiteral("/share/metainfo/io.velmora.Brenloft.metainfo.xml")}},
    };
    for (const Check& check : checks) {
        const ToolRun run = RunTool(check.tool, check.arguments);
        EXPECT_EQ(run.exitCode, 0) << qPrintable(check.tool) << ": " << qPrintable(run.output);
    }
}

TEST(InstallTree, FilesNameTheInstalledPrograms) {
    const QString service = QString::fromUtf8(
        ReadFile(Prefix + QStringLiteral("/share/dbus-1/services/VelmoraProject.Velmora.service")));
    EXPECT_TRUE(service.contains(QStringLiteral("\nName=VelmoraProject.Velmora\n")));
    EXPECT_TRUE(
        service.contains(QStringLiteral("\nExec=") + Prefix + QStringLiteral("/bin/Brenloft\n")))
        << qPrintable(service);
    EXPECT_TRUE(ReadFile(Prefix + QStringLiteral("/lib/systemd/user/brenloft-get.service"))
                    .contains("\nExecStart=" + QFile::encodeName(Prefix) + "/bin/brenloft-get "));
    // The same host name and extensions as the manifests the program writes for one user.
    struct Manifest {
        QString folder;
        QString allowedKey;
        QString allowed;
    };
    const Manifest manifests[] = {
        {QStringLiteral("lib/mozilla"), QStringLiteral("allowed_extensions"),
         QStringLiteral("brenloft@velmora.invalid")},
        {QStringLiteral("etc/chromium"), QStringLiteral("allowed_origins"),
         QStringLiteral("chrome-extension://ceejbabjkdnpccnjndkbcdkbdnlklblk/")},
        {QStringLiteral("etc/opt/chrome"), QStringLiteral("allowed_origins"),
         QStringLiteral("chrome-extension://ceejbabjkdnpccnjndkbcdkbdnlklblk/")},
    };
    for (const Manifest& m : manifests) {
        const QJsonObject json =
            JsonFile(QStringLiteral("%1/%2/native-messaging-hosts/%3").arg(Prefix, m.folder, Host));
        EXPECT_EQ(json.value(QLatin1String("name")).toString(),
                  QStringLiteral("velmoraproject.velmora_launcher"))
            << qPrintable(m.folder);
        EXPECT_EQ(json.value(QLatin1String("path")).toString(),
                  Prefix + QStringLiteral("/bin/VelmoraLauncher"));
        EXPECT_EQ(json.value(m.allowedKey).toArray().first().toString(), m.allowed);
    }
}

TEST(InstalledPrograms, BrenloftGetDownloadsFromNginx) {
    Sandbox box;
    QDir().mkpath(box.file(QStringLiteral("home")));
    const QByteArray bytes = RandomBytes(300000);
    ASSERT_TRUE(WriteFile(box.file(QStringLiteral("file.bin")), bytes));
    NginxPeer nginx(box.path());
    ASSERT_TRUE(nginx.start()) << qPrintable(nginx.error());
    QProcess get;
    PrepareGet(get, box, box.path());
    get.start(Prefix + QStringLiteral("/bin/brenloft-get"),
              {QStringLiteral("-q"), QStringLiteral("-d"), box.file(QStringLiteral("dl")),
               nginx.url(QStringLiteral("/file.bin"))});
    ASSERT_TRUE(get.waitForFinished(120000));
    EXPECT_EQ(get.exitCode(), 0) << get.readAllStandardError().constData();
    EXPECT_EQ(ReadFile(box.file(QStringLiteral("dl/file.bin"))), bytes);
}

// French texts come from the prefix's share/brenloft/lang: the build tree's are not beside it.
TEST(InstalledPrograms, BrenloftStartsInFrenchFromThePrefix) {
    BrenloftHome home;
    home.setOption(QStringLiteral("Language"), QStringLiteral("francais"));
    qputenv("QT_LOGGING_RULES", "brenloft.ui.info=true");
    BrenloftRun run(home);
    run.keepErrors();
    ASSERT_TRUE(run.start());
    qunsetenv("QT_LOGGING_RULES");
    // The per-user activation file names the program it was started as.
    const QString activation =
        home.path(QStringLiteral("data/dbus-1/services/VelmoraProject.Velmora.service"));
    const QString exec = QStringLiteral("Exec=") + Prefix + QStringLiteral("/bin/Brenloft");
    EXPECT_TRUE(WaitFor(
        [&] {
            return ListensForLaterStarts(home) &&
                   QString::fromUtf8(ReadFile(activation)).contains(exec);
        },
        std::chrono::seconds(60)));
    EXPECT_TRUE(run.stopWith(SIGTERM));
    EXPECT_TRUE(run.endedCleanly());
    const QByteArray told = run.errors();
    EXPECT_TRUE(told.contains("texts francais from " + (Prefix + "/share/brenloft/lang/").toUtf8()))
        << told.constData();
}

// One package made from this build by CPack, as tools/package makes it from the release build.
TEST(DebianPackage, IsCleanHoldsTheInstallTreeAndRuns) {
    Sandbox box;
    const ToolRun cpack = RunTool(
        QStringLiteral("cpack"),
        {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), box.path(),
         QStringLiteral("--config"), QStringLiteral(BRENLOFT_BINARY_DIR "/CPackConfig.cmake")});
    ASSERT_EQ(cpack.exitCode, 0) << qPrintable(cpack.output);
    const QStringList debs = QDir(box.path()).entryList({QStringLiteral("brenloft_*.deb")});
    ASSERT_EQ(debs.size(), 1);
    const QString deb = box.file(debs.first());

    const ToolRun lintian = RunTool(QStringLiteral("lintian"), {deb});
    for (const QString& line : lintian.output.split(u'\n')) {
        EXPECT_FALSE(line.startsWith(QLatin1String("E:"))) << qPrintable(line);
    }

    // The install tree under /usr, but for the browsers' folders under /etc.
    QStringList expected;
    for (const QString& file : ExpectedFiles()) {
        expected << (file.startsWith(QLatin1String("etc/")) ? file : QStringLiteral("usr/") + file);
    }
    expected.sort();
    const ToolRun contents = RunTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
    QStringList listed;
    for (const QString& line : contents.output.split(u'\n', Qt::SkipEmptyParts)) {
        const QString path = line.section(u' ', -1);
        if (!line.startsWith(u'd')) {
            listed << path.mid(2);  // "./usr/..." as installed
        }
    }
    listed.sort();
    EXPECT_EQ(listed, expected);

    const QString root = box.file(QStringLiteral("root"));
    ASSERT_EQ(RunTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root}).exitCode, 0);
    struct Start {
        QString program;
        QStringList arguments;
        int exitCode;
    };
    const Start starts[] = {
        {QStringLiteral("brenloft-get"), {QStringLiteral("--no-such-option")}, 2},
        {QStringLiteral("brenloft-get"), {}, 2},
    };
    for (const Start& start : starts) {
        const ToolRun run =
            RunTool(root + QStringLiteral("/usr/bin/") + start.program, start.arguments);
        EXPECT_EQ(run.exitCode, start.exitCode) << qPrintable(run.output);
    }
}
