#include "archive/zip_folders.h"

#include <QHash>
#include <cmath>
#include <utility>

namespace {

// The name without a folder's final "/".
QStringView PathOf(const ZipEntry& entry) {
    QStringView name(entry.name);
    return entry.isFolder() ? name.chopped(1) : name;
}

}  // namespace

QString ZipEntryFolder(const ZipEntry& entry) {
    const QStringView path = PathOf(entry);
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash).toString();
}

QString ZipEntryBaseName(const ZipEntry& entry) {
    const QStringView path = PathOf(entry);
    return path.mid(path.lastIndexOf(u'/') + 1).toString();
}

ZipFolderTree BuildZipFolderTree(const QList<ZipEntry>& entries) {
    ZipFolderTree tree;
    tree.folders.append(ZipFolderTree::Folder{});
    // Children by (parent, name), so each part of each path is looked at once.
    QHash<std::pair<qsizetype, QString>, qsizetype> children;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const ZipEntry& entry = entries[index];
        const QStringView path = PathOf(entry);
        qsizetype folder = 0;
        qsizetype start = 0;
        // Every part but the last is a folder; for a folder entry the last one is too.
        for (;;) {
            const qsizetype slash = path.indexOf(u'/', start);
            if (slash < 0 && !entry.isFolder()) {
                break;
            }
            const qsizetype end = slash < 0 ? path.size() : slash;
            std::pair<qsizetype, QString> key{folder, path.mid(start, end - start).toString()};
            auto found = children.constFind(key);
            if (found == children.constEnd()) {
                const qsizetype child = tree.folders.size();
                ZipFolderTree::Folder made;
                made.name = key.second;
                made.parent = folder;
                tree.folders.append(std::move(made));
                tree.folders[folder].folders.append(child);
                found = children.insert(std::move(key), child);
            }
            folder = *found;
            if (slash < 0) {
                break;
            }
            start = slash + 1;
        }
        if (entry.isFolder()) {
            if (tree.folders[folder].entry < 0) {
                tree.folders[folder].entry = index;
            }
        } else {
            tree.folders[folder].files.append(index);
        }
    }
    return tree;
}

QString ZipFolderPath(const ZipFolderTree& tree, qsizetype folder) {
    QStringList parts;
    for (; folder > 0 && folder < tree.folders.size(); folder = tree.folders[folder].parent) {
        parts.prepend(tree.folders[folder].name);
    }
    return parts.join(u'/');
}

qsizetype FindZipFolder(const ZipFolderTree& tree, QStringView path) {
    if (tree.folders.isEmpty()) {
        return -1;
    }
    qsizetype folder = 0;
    if (path.isEmpty()) {
        return folder;
    }
    for (const QStringView part : path.split(u'/')) {
        qsizetype next = -1;
        for (const qsizetype child : tree.folders[folder].folders) {
            if (tree.folders[child].name == part) {
                next = child;
                break;
            }
        }
        if (next < 0) {
            return -1;
        }
        folder = next;
    }
    return folder;
}

std::optional<int> ZipCompressionRatio(quint64 compressed, quint64 uncompressed) {
    if (uncompressed == 0) {
        return std::nullopt;
    }
    // Rounded half to even, as the preview has always shown it; long double keeps 64-bit sizes
    // exact enough for a whole percentage.
    const long double packed = static_cast<long double>(compressed) * 100 / uncompressed;
    const long double kept = std::nearbyint(std::fmin(packed, 1e9L));
    return 100 - static_cast<int>(kept);
}
