// The updater: Brenloft starts it after unpacking a signed update package, then quits. It
// waits for Brenloft to end, copies the package over an installation in the user's home
// folder and starts Brenloft again. Whatever went wrong is said on stderr and, on a desktop,
// in a message box.

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

#include "core/paths/app_paths.h"
#include "core/text/text_table.h"
#include "updater/update_copy.h"

int main(int argc, char* argv[]) {
    // Asked at a terminal, perhaps without a display: answered before Qt looks for one.
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s\n\n%s", UpdaterUsage, UpdaterHelp);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("updater %s\n", BRENLOFT_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    // Looked at once Qt has taken its own options (-platform and the like) out of the list.
    const QString unknown = UpdaterArguments::unknownName(QCoreApplication::arguments().mid(1));
    if (!unknown.isEmpty()) {
        std::fprintf(stderr, "updater: unknown option %s\n%s\n", qUtf8Printable(unknown),
                     UpdaterUsage);
        return 2;
    }
    QString why;
    const std::optional<UpdaterArguments> arguments =
        UpdaterArguments::fromList(QCoreApplication::arguments().mid(1), why);
    UpdateOutcome outcome;
    if (!arguments) {
        outcome = {UpdateOutcome::BadArguments, QStringLiteral("updater: ") + why};
    } else {
        TextTable texts;
        const QStringList folders = LanguageFolders(ApplicationFolder());
        LoadLanguage(texts, QStringLiteral("english"), folders);
        if (!arguments->language.isEmpty()) {
            LoadLanguage(texts, arguments->language, folders);
        }
        outcome = RunUpdate(*arguments, texts, UpdaterSystem::Real());
    }
    if (!outcome.message.isEmpty()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(outcome.message));
        // No one would see a box on these platforms, and it would wait for ever.
        const QString platform = QGuiApplication::platformName();
        if (platform != u"offscreen" && platform != u"minimal") {
            QMessageBox::warning(nullptr, QStringLiteral("Brenloft"), outcome.message);
        }
    }
    return outcome.code;
}
