#include "ui/main_window/language_conventions.h"

#include "core/text/format.h"
#include "core/text/text_table.h"

namespace {

constexpr int kLocaleText = 249;

}  // namespace

QLocale LanguageLocale(const TextTable& texts) {
    const QString name = texts.text(kLocaleText).trimmed();
    if (name.isEmpty()) {
        return QLocale(QLocale::English, QLocale::UnitedStates);
    }
    QLocale locale(name);
    // Group separators would make "1 000" of a byte count; sizes never group.
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

QString LocalSize(Currency size, const TextTable& texts, const QLocale& locale) {
    QString text = FormatSize(size, texts);
    // Only the number before the unit has a decimal point; the unit word is the language's own.
    const qsizetype space = text.indexOf(u' ');
    const qsizetype point = text.indexOf(u'.');
    if (point >= 0 && (space < 0 || point < space)) {
        text.replace(point, 1, locale.decimalPoint());
    }
    return text;
}

QString LocalPercent(float percent, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(static_cast<double>(percent), 'f', 1);
}

const QLocale& LocaleCache::locale() const {
    const QString name = texts_.text(kLocaleText);
    if (name != name_) {
        name_ = name;
        locale_ = LanguageLocale(texts_);
    }
    return locale_;
}
