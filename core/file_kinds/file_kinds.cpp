#include "core/file_kinds/file_kinds.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <array>

#include "core/settings/settings.h"

namespace {

const std::array<KindSetting, 7> kKinds{{
    {FileKind::Music, &Settings::SortMusic, QLatin1StringView("MUSIC"), QLatin1StringView("Music")},
    {FileKind::Videos, &Settings::SortVideos, QLatin1StringView("VIDEOS"),
     QLatin1StringView("Videos")},
    {FileKind::Pictures, &Settings::SortPictures, QLatin1StringView("PICTURES"),
     QLatin1StringView("Pictures")},
    {FileKind::Documents, &Settings::SortDocuments, QLatin1StringView("DOCUMENTS"),
     QLatin1StringView("Documents")},
    {FileKind::Archives, &Settings::SortArchives, {}, QLatin1StringView("Archives")},
    {FileKind::Programs, &Settings::SortPrograms, {}, QLatin1StringView("Programs")},
    {FileKind::DiskImages, &Settings::SortDiskImages, {}, QLatin1StringView("Disk images")},
}};

FileKind KindListing(const QString& extension, const Settings& settings) {
    for (const KindSetting& k : kKinds) {
        if (ExtensionList(settings.*k.extensions).contains(extension)) {
            return k.kind;
        }
    }
    return FileKind::None;
}

QString WithSlash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

}  // namespace

std::span<const KindSetting> KindSettings() {
    return kKinds;
}

QStringList ExtensionList(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    QStringList list;
    for (QString entry : text.split(separators, Qt::SkipEmptyParts)) {
        if (entry.startsWith(QLatin1StringView("*."))) {
            entry.remove(0, 1);
        }
        while (entry.startsWith(u'.')) {
            entry.remove(0, 1);
        }
        if (!entry.isEmpty()) {
            list << entry.toLower();
        }
    }
    return list;
}

FileKind KindOfFile(const QString& fileName, const Settings& settings) {
    const QString name = fileName.mid(fileName.lastIndexOf(u'/') + 1).toLower();
    // A dot in front only hides the file: ".mp3" has no extension.
    const qsizetype last = name.lastIndexOf(u'.');
    if (last <= 0 || last == name.size() - 1) {
        return FileKind::None;
    }
    const qsizetype before = name.lastIndexOf(u'.', last - 1);
    if (before > 0) {
        if (const FileKind kind = KindListing(name.mid(before + 1), settings);
            kind != FileKind::None) {
            return kind;
        }
    }
    return KindListing(name.mid(last + 1), settings);
}

QString KindFolder(FileKind kind, const UserDirs& dirs, const QString& downloadFolder) {
    for (const KindSetting& k : kKinds) {
        if (k.kind != kind) {
            continue;
        }
        if (const QString own = dirs.value(QString(k.userDir)); !own.isEmpty()) {
            return WithSlash(own);
        }
        return downloadFolder.isEmpty() ? QString()
                                        : WithSlash(downloadFolder) + k.subfolder + u'/';
    }
    return {};
}

ListProblem CheckExtensionLists(const QStringList& lists) {
    // One or two parts, as a name's extension is matched.
    static const QRegularExpression extension(
        QStringLiteral("^[^/\\\\*?.\\s]+(\\.[^/\\\\*?.\\s]+)?$"));
    QSet<QString> seen;
    ListProblem problem = ListProblem::None;
    for (const QString& list : lists) {
        QSet<QString> own;
        for (const QString& entry : ExtensionList(list)) {
            if (!extension.match(entry).hasMatch()) {
                return ListProblem::NotAnExtension;
            }
            if (seen.contains(entry)) {
                problem = ListProblem::TwoKinds;
            }
            own.insert(entry);
        }
        seen.unite(own);
    }
    return problem;
}
