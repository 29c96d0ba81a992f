#include "integration/browsers/browser_integration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "core/diagnostics/log_categories.h"
#include "integration/browsers/extension_ids.h"
#include "integration/browsers/native_host_manifest.h"

namespace {

bool StartDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

bool IsProgram(const QString& path) {
    const QFileInfo info(path);
    return info.isAbsolute() && info.isFile() && info.isExecutable();
}

}  // namespace

QString FindVelmoraLauncher() {
    const QString beside =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("VelmoraLauncher"));
    if (IsProgram(beside)) {
        return beside;
    }
    return QStandardPaths::findExecutable(QStringLiteral("VelmoraLauncher"));
}

BrowserIntegration::Setup BrowserIntegration::SetupFor(const QString& applicationFolder) {
    Setup setup;
    setup.places = BrowserPlaces::FromEnvironment();
    setup.launcher = FindVelmoraLauncher();
    setup.packageFolders = {applicationFolder, QCoreApplication::applicationDirPath() +
                                                   QStringLiteral("/../share/brenloft/browser")};
    return setup;
}

BrowserIntegration::BrowserIntegration(Setup setup) : setup_(std::move(setup)) {
    if (!setup_.start) {
        setup_.start = StartDetached;
    }
    refresh();
}

void BrowserIntegration::refresh() {
    found_ = FindBrowsers(setup_.places);
}

int BrowserIntegration::setFamily(BrowserFamily family, bool on,
                                  const QSet<BrowserFamily>& stillOn) {
    why_.clear();
    if (!on) {
        // Folders that a box still on needs keep their manifest: Firefox's is SeaMonkey's too.
        QSet<QString> kept;
        for (const BrowserKind& kind : BrowserKinds()) {
            if (kind.family != family && stillOn.contains(kind.family)) {
                kept.insert(setup_.places.manifestFolder(kind));
            }
        }
        for (const BrowserKind& kind : BrowserKinds()) {
            const QString folder = setup_.places.manifestFolder(kind);
            if (kind.family == family && !kept.contains(folder)) {
                if (const QString failed = RemoveNativeHostManifest(folder); !failed.isEmpty()) {
                    qCWarning(lcUi).noquote() << failed;
                }
            }
        }
        return 774;
    }
    if (!IsProgram(setup_.launcher)) {
        why_ = QStringLiteral("VelmoraLauncher was not found");
        return 772;
    }
    for (const FoundBrowser& browser : found_) {
        if (browser.kind.family != family) {
            continue;
        }
        const QString folder = setup_.places.manifestFolder(browser.kind);
        why_ = WriteNativeHostManifest(folder, NativeHostManifest(family, setup_.launcher));
        if (!why_.isEmpty()) {
            return 772;
        }
        qCInfo(lcUi).noquote() << "native-messaging host for" << browser.kind.name << "in"
                               << folder;
    }
    return 773;
}

QString BrowserIntegration::package() const {
    for (const QString& folder : setup_.packageFolders) {
        const QString path =
            QDir(folder).filePath(QLatin1String(BrowserExtension::PackageFileName));
        if (QFileInfo(path).isFile()) {
            return QFileInfo(path).absoluteFilePath();
        }
    }
    return {};
}

QString BrowserIntegration::extensionPage(BrowserFamily family, bool on) const {
    if (family == BrowserFamily::Chromium) {
        return QStringLiteral("chrome://extensions/");
    }
    const QString target = on ? package() : QString();
    return target.isEmpty() ? QStringLiteral("about:addons") : target;
}

bool BrowserIntegration::openExtensionPage(BrowserFamily family, bool on) {
    const QString browser = program(family);
    if (browser.isEmpty()) {
        return false;
    }
    const bool started = setup_.start(browser, {extensionPage(family, on)});
    if (!started) {
        qCWarning(lcUi).noquote() << browser << "could not be started";
    }
    return started;
}
