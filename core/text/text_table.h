#pragma once

#include <QString>
#include <QStringList>
#include <array>

// The interface texts, one per number. Every caption, column title, tooltip and most messages
// come from here; windows name the entry they show by the number in their tag.
class TextTable {
public:
    // Entries in use lie below 1520; toolbar tooltips sit 30 above their button's entry.
    static constexpr int Size = 1520;

    // The entry, or an empty text for one that no file defined or a number outside the table.
    QString text(int number) const;
    void set(int number, const QString& text);

    // Reads a language file's text into the table, overwriting only the entries it defines.
    void loadText(const QString& contents);

private:
    std::array<QString, Size> texts_;
};

// The folders a language file is looked up in, first match wins: the application folder,
// then the language folder installed beside the executable.
QStringList LanguageFolders(const QString& applicationFolder);

// Only the language folder installed beside the executable: for a program whose own folder may
// have been made by someone else (brenloft-get's work folder), so that no file planted there
// can put other words in its messages.
QStringList InstalledLanguageFolders();

// Loads "<key>.txt" from the first folder that has it. A missing or unreadable file leaves the
// table unchanged and returns false.
bool LoadLanguage(TextTable& table, const QString& key, const QStringList& folders);
