#pragma once

#include <QLocale>
#include <QString>

class TextTable;

// The conventions of the chosen language for the lists' dates: interface text 249 names its
// locale ("fr_FR"); English ones when the language names none. (Sizes and percentages take
// its decimal separator in FormatSize and FormatPercent.)
QLocale LanguageLocale(const TextTable& texts);

// Keeps the locale of the texts' language and makes it again only when the language changes, as
// the lists ask for it once per cell drawn.
class LocaleCache {
public:
    explicit LocaleCache(const TextTable& texts) : texts_(texts) {}
    const QLocale& locale() const;

private:
    const TextTable& texts_;
    mutable QString name_;
    mutable QLocale locale_{QLocale::English, QLocale::UnitedStates};
};
