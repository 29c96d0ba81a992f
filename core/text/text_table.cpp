#include "core/text/text_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "core/diagnostics/log_categories.h"
#include "core/types/vb_convert.h"

namespace {

bool IsComment(QStringView line) {
    return line.startsWith(u"//") || line.startsWith(u";");
}

}  // namespace

QString TextTable::text(int number) const {
    return number >= 0 && number < Size ? texts_[static_cast<size_t>(number)] : QString();
}

void TextTable::set(int number, const QString& text) {
    if (number >= 0 && number < Size) {
        texts_[static_cast<size_t>(number)] = text;
    }
}

void TextTable::loadText(const QString& contents) {
    for (QStringView line : QStringView(contents).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || IsComment(line)) {
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            continue;
        }
        const long double key = RoundHalfEven(LeadingNumber(line.left(equals)));
        if (key >= 0 && key < Size) {
            set(static_cast<int>(key), line.mid(equals + 1).toString());
        }
    }
}

QStringList LanguageFolders(const QString& applicationFolder) {
    return QStringList{applicationFolder} + InstalledLanguageFolders();
}

QStringList InstalledLanguageFolders() {
    if (QCoreApplication::instance() == nullptr) {
        return {};
    }
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/../share/brenloft/lang")};
}

bool LoadLanguage(TextTable& table, const QString& key, const QStringList& folders) {
    if (key.isEmpty() || key.contains(u'/')) {
        return false;
    }
    for (const QString& folder : folders) {
        QFile file(QDir(folder).filePath(key + QStringLiteral(".txt")));
        if (file.open(QIODevice::ReadOnly)) {
            table.loadText(QString::fromLocal8Bit(file.readAll()));
            // Which copy was read tells an installation from a build tree apart.
            qCInfo(lcUi).noquote() << "texts" << key << "from" << QDir::cleanPath(file.fileName());
            return true;
        }
    }
    return false;
}
