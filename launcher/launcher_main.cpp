// VelmoraLauncher: what browsers start to hand an address to Brenloft.

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "launcher/launch_mode.h"
#include "launcher/launcher.h"

namespace {

// Browsers show nothing of what a helper prints; in the command-line mode the launcher stays
// silent, so no warning of Qt's ends up in a terminal the browser was started from.
void Silent(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

int main(int argc, char** argv) {
    // Taken before QCoreApplication, which may consume arguments it knows.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const LaunchMode mode = DetectLaunchMode(arguments);
    switch (mode) {
        case LaunchMode::Help:
            std::printf("%s\n\n%s", LauncherUsage, LauncherHelp);
            return 0;
        case LaunchMode::Version:
            std::printf("VelmoraLauncher %s\n", BRENLOFT_VERSION);
            return 0;
        case LaunchMode::BadOption:
            std::fprintf(stderr, "VelmoraLauncher: unknown option %s\n%s\n", argv[1],
                         LauncherUsage);
            return 2;
        case LaunchMode::Url:
        case LaunchMode::NativeMessaging:
            break;
    }
    const QString commandLine = JoinArguments(arguments);
    if (mode == LaunchMode::Url && commandLine.isEmpty()) {
        return 0;
    }
    if (mode == LaunchMode::Url) {
        qInstallMessageHandler(Silent);
    }
    QCoreApplication app(argc, argv);
    return mode == LaunchMode::NativeMessaging ? RunNativeMessagingHost() : RunUrlMode(commandLine);
}
