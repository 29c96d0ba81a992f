#pragma once

#include <QLocale>
#include <QString>

class TextTable;

// The conventions of the chosen language for numbers and dates: interface text 249 names its
// locale ("fr_FR"); English ones when the language names none.
QLocale LanguageLocale(const TextTable& texts);

// A percentage with one decimal, in the language's digits ("12,5").
QString LocalPercent(float percent, const QLocale& locale);

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
