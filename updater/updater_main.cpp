// The updater: Brenloft starts it after unpacking a signed update package, then quits. It
// waits for Brenloft to end, copies the package over an installation in the user's home
// folder and starts Brenloft again. Whatever went wrong is said on stderr and, on a desktop,
// in a message box.

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "core/paths/app_paths.h"
#include "core/text/text_table.h"
#include "updater/update_copy.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
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
