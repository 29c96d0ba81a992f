#include "ui/main_window/language_conventions.h"

#include "core/text/format.h"
#include "core/text/text_table.h"

QLocale LanguageLocale(const TextTable& texts) {
    const QString name = texts.text(LocaleTextNumber).trimmed();
    if (name.isEmpty()) {
        return QLocale(QLocale::English, QLocale::UnitedStates);
    }
    QLocale locale(name);
    // Group separators would make "1 000" of a byte count; sizes never group.
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

const QLocale& LocaleCache::locale() const {
    const QString name = texts_.text(LocaleTextNumber);
    if (name != name_) {
        name_ = name;
        locale_ = LanguageLocale(texts_);
    }
    return locale_;
}
