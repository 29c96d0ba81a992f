#pragma once

#include <QTranslator>

class TextTable;

// Qt's own words in the interface's language: the standard buttons of questions (Yes, No,
// Cancel), the date editors' calendar and the names of shortcut keys. The language's locale
// (interface text 249) chooses Qt's translation and becomes the default of the windows made
// from then on; the translation is installed while this object lives.
class QtTranslation {
public:
    QtTranslation() = default;
    ~QtTranslation();
    QtTranslation(const QtTranslation&) = delete;
    QtTranslation& operator=(const QtTranslation&) = delete;

    // At start-up and after each language switch; open windows take the new words at once.
    // Qt's English stays where Qt has no translation for the language.
    void use(const TextTable& texts);

private:
    QTranslator translator_;
    bool installed_ = false;
};
