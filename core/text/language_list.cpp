#include "core/text/language_list.h"

#include <QDir>
#include <QFile>
#include <QSet>

namespace {

void AddEntries(const QString& path, const QString& key, QList<LanguageEntry>& languages) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QString contents = QString::fromLocal8Bit(file.readAll());
    for (QStringView line : QStringView(contents).split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u"LANG=")) {
            languages.append({key, line.mid(line.indexOf(u'=') + 1).trimmed().toString()});
        }
    }
}

}  // namespace

QList<LanguageEntry> ListLanguages(const QStringList& folders) {
    QList<LanguageEntry> languages;
    QSet<QString> seen;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& name :
             dir.entryList({QStringLiteral("*.txt")}, QDir::Files | QDir::Readable, QDir::Name)) {
            const QString key = name.chopped(4);
            if (seen.contains(key)) {
                continue;
            }
            seen.insert(key);
            AddEntries(dir.filePath(name), key, languages);
        }
    }
    return languages;
}

std::optional<QString> LanguageKeyForName(const QList<LanguageEntry>& languages,
                                          const QString& name) {
    for (const LanguageEntry& entry : languages) {
        if (entry.name.compare(name, Qt::CaseInsensitive) == 0) {
            return entry.key;
        }
    }
    return std::nullopt;
}

int LanguageIndexForKey(const QList<LanguageEntry>& languages, const QString& key) {
    int found = -1;
    for (int i = 0; i < languages.size(); ++i) {
        if (languages[i].key.compare(key, Qt::CaseInsensitive) == 0) {
            found = i;
        }
    }
    return found;
}
