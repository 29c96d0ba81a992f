#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/desktop/command_line.h"
#include "app/desktop/desktop_app.h"
#include "core/diagnostics/log_categories.h"
#include "ui/preview/media_backend.h"

int main(int argc, char** argv) {
    // Asked at a terminal, perhaps without a display: answered before Qt looks for one, and
    // before anything reaches the bus, the running program or the list.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("%s\n\n%s", BrenloftUsage, BrenloftHelp);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Brenloft %s\n", BRENLOFT_VERSION);
            return 0;
        }
    }
    UseGStreamerMedia();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brenloft"));
    QApplication::setDesktopFileName(QStringLiteral("brenloft"));
    // The main window's close box only puts it away; the program ends by quitting.
    QApplication::setQuitOnLastWindowClosed(false);
    // --verbose is ours, not part of the address line the rest of the arguments form.
    QStringList arguments = QApplication::arguments();
    if (arguments.removeAll(QStringLiteral("--verbose")) > 0) {
        EnableVerboseLogging();
    }
    ShowLogLinesEscaped();
    // Looked at once Qt has taken its own options out of the list.
    const QString unknown = UnknownStartOption(arguments.mid(1));
    if (!unknown.isEmpty()) {
        std::fprintf(stderr, "Brenloft: unknown option %s\n%s\n", qUtf8Printable(unknown),
                     BrenloftUsage);
        return 2;
    }
    DesktopApp desktop;
    if (!desktop.StartUp(arguments)) {
        // Another Brenloft took the lines over, or did not say it had.
        return desktop.exitCode();
    }
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &desktop,
                     [&desktop](QSessionManager&) { desktop.QuitProgram(); });
    const int status = app.exec();
    return desktop.exitCode() != 0 ? desktop.exitCode() : status;
}
