#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One line of the options window's language box: the file's key (its name without ".txt")
// and the name a "LANG=" line gives it.
struct LanguageEntry {
    QString key;
    QString name;
};

// Every language of the "*.txt" files in `folders`, in file-name order: one entry per line that
// starts with "LANG=" (after trimming), so a file may offer several names and a comment that
// merely mentions "LANG=" offers none. A key found in an earlier folder hides the same key in a
// later one, as loading the language would.
QList<LanguageEntry> ListLanguages(const QStringList& folders);

// The key of the first entry named `name`, ignoring case.
std::optional<QString> LanguageKeyForName(const QList<LanguageEntry>& languages,
                                          const QString& name);

// The last entry whose key is `key`, ignoring case; -1 when none is.
int LanguageIndexForKey(const QList<LanguageEntry>& languages, const QString& key);
