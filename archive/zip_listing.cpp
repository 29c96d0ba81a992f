#include "archive/zip_listing.h"

namespace {

ZipListRow FileRow(const QList<ZipEntry>& entries, qsizetype index, QString path) {
    const ZipEntry& entry = entries[index];
    ZipListRow row;
    row.entry = index;
    row.text = ZipEntryBaseName(entry);
    row.packed = entry.compressedSize;
    row.normal = entry.uncompressedSize;
    row.ratio = ZipCompressionRatio(entry);
    row.path = std::move(path);
    return row;
}

// Only files count: a folder is no file unpacked, and its own size is nothing.
void Count(ZipListing& listing, const ZipListRow& row) {
    ++listing.count;
    listing.normalTotal += row.normal;
    listing.packedTotal += row.packed;
}

}  // namespace

ZipListing ListZipFiles(const QList<ZipEntry>& entries) {
    ZipListing listing;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const ZipEntry& entry = entries[index];
        if (entry.isFolder()) {
            continue;
        }
        const QString folder = ZipEntryFolder(entry);
        ZipListRow row = FileRow(entries, index, folder.isEmpty() ? folder : folder + u'/');
        Count(listing, row);
        listing.rows.append(std::move(row));
    }
    return listing;
}

ZipListing ListZipFolder(const QList<ZipEntry>& entries, const ZipFolderTree& tree,
                         const QString& folder) {
    ZipListing listing;
    const qsizetype at = FindZipFolder(tree, folder);
    if (at < 0) {
        return listing;
    }
    const ZipFolderTree::Folder& shown = tree.folders[at];
    for (const qsizetype child : shown.folders) {
        ZipListRow row;
        row.entry = tree.folders[child].entry;
        row.isFolder = true;
        row.folderPath = ZipFolderPath(tree, child);
        row.text = u'+' + tree.folders[child].name;
        row.path = folder;
        listing.rows.append(std::move(row));
    }
    for (const qsizetype index : shown.files) {
        ZipListRow row = FileRow(entries, index, folder);
        Count(listing, row);
        listing.rows.append(std::move(row));
    }
    return listing;
}

QString ZipParentFolder(const QString& folder) {
    const qsizetype slash = folder.lastIndexOf(u'/');
    return slash < 0 ? QString() : folder.left(slash);
}
