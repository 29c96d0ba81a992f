#include <QCoreApplication>
#include <QDir>

#include "core/download_list/download_list.h"
#include "core/paths/app_paths.h"
#include "core/process/quit_signals.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"

// The desktop program's first form: it sets up its folders, loads the options, the interface
// texts and the download list, and keeps the list safe when it is told to end.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brenloft"));

    // First of all, so that an early request to end still saves the list once it is loaded.
    QuitSignals quitSignals;

    const QString folder = ApplicationFolder();
    if (const QString failed = CreateApplicationFolders(folder); !failed.isEmpty()) {
        qCritical("Brenloft: cannot create the folder %s", qPrintable(failed));
        return 1;
    }

    SettingsStore store;
    Settings settings;
    LoadSettings(settings, store, folder);

    TextTable texts;
    const QStringList languageFolders = LanguageFolders(folder);
    LoadLanguage(texts, QStringLiteral("english"), languageFolders);
    LoadLanguage(texts, settings.Language, languageFolders);

    const QString listPath = QDir(folder).filePath(QLatin1String(ListFileName));
    DownloadListState list;
    if (const ListLoadResult loaded = LoadList(list, listPath); !loaded.error.isEmpty()) {
        qWarning("Brenloft: %s", qPrintable(loaded.error));
    }

    int status = 0;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [&](int) {
        if (const QString why = SaveList(list, listPath); !why.isEmpty()) {
            qCritical("Brenloft: the download list was not saved: %s", qPrintable(why));
            status = 1;
        }
        QCoreApplication::exit(status);
    });
    return app.exec();
}
