#include "ui/language/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include "core/diagnostics/log_categories.h"
#include "core/text/format.h"
#include "core/text/text_table.h"

QtTranslation::~QtTranslation() {
    if (installed_) {
        QCoreApplication::removeTranslator(&translator_);
    }
}

void QtTranslation::use(const TextTable& texts) {
    const QString name = texts.text(LocaleTextNumber).trimmed();
    const QLocale locale =
        name.isEmpty() ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale(name);
    QLocale::setDefault(locale);
    if (installed_) {
        QCoreApplication::removeTranslator(&translator_);
        installed_ = false;
    }
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (locale.language() != QLocale::English &&
        translator_.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        installed_ = QCoreApplication::installTranslator(&translator_);
    }
    qCInfo(lcUi).noquote() << "Qt's words for" << locale.name() << "from"
                           << (installed_ ? translator_.filePath() : QStringLiteral("Qt itself"));
}
