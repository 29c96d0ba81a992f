#include <QCoreApplication>
#include <cstdio>

#include "cli/get_options.h"
#include "cli/get_runner.h"
#include "core/diagnostics/log_categories.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brenloft-get"));
    QString error;
    auto options = ParseGetOptions(QCoreApplication::arguments().mid(1), error);
    if (options && options->show == GetOptions::Show::Nothing) {
        error = NoAddressToFetch(options->urls);
    }
    if (!options || !error.isEmpty() || !ReadPassword(*options, error)) {
        std::fprintf(stderr, "brenloft-get: %s\n%s\n", error.toLocal8Bit().constData(), GetUsage);
        return 2;
    }
    if (options->show == GetOptions::Show::Help) {
        std::printf("%s\n\n%s", GetUsage, GetHelp);
        return 0;
    }
    if (options->show == GetOptions::Show::Version) {
        std::printf("brenloft-get %s\n", BRENLOFT_VERSION);
        return 0;
    }
    if (options->verbose) {
        EnableVerboseLogging();
    }
    ShowLogLinesEscaped();
    GetRunner runner(*options);
    if (!runner.start()) {
        return runner.exitCode();
    }
    app.exec();
    return runner.exitCode();
}
