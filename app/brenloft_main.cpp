#include <QApplication>

#include "app/desktop/desktop_app.h"
#include "core/diagnostics/log_categories.h"
#include "ui/preview/media_backend.h"

int main(int argc, char** argv) {
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
    DesktopApp desktop;
    if (!desktop.StartUp(arguments)) {
        return 0;
    }
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &desktop,
                     [&desktop](QSessionManager&) { desktop.QuitProgram(); });
    const int status = app.exec();
    return desktop.exitCode() != 0 ? desktop.exitCode() : status;
}
