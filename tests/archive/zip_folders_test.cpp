#include <gtest/gtest.h>

#include <algorithm>

#include "archive/zip_folders.h"
#include "archive/zip_listing.h"

// The folders view over entries, with and without the archive's own folder entries.

namespace {

QList<ZipEntry> Entries(const QStringList& names) {
    QList<ZipEntry> entries;
    for (const QString& name : names) {
        ZipEntry e;
        e.name = name;
        entries.append(e);
    }
    return entries;
}

// "+" for a sub-folder, then the files, as the folder view lists them.
QStringList Listing(const ZipFolderTree& tree, const QList<ZipEntry>& entries,
                    const QString& path) {
    const qsizetype folder = FindZipFolder(tree, path);
    if (folder < 0) {
        return {QStringLiteral("(none)")};
    }
    QStringList shown;
    for (qsizetype child : tree.folders[folder].folders) {
        EXPECT_EQ(ZipFolderPath(tree, child), path.isEmpty()
                                                  ? tree.folders[child].name
                                                  : path + u'/' + tree.folders[child].name);
        shown.append(u'+' + tree.folders[child].name);
    }
    for (qsizetype file : tree.folders[folder].files) {
        EXPECT_EQ(ZipEntryFolder(entries[file]), path);
        shown.append(ZipEntryBaseName(entries[file]));
    }
    return shown;
}

TEST(ZipFolders, ListsEachFolderWhetherTheArchiveNamesItOrNot) {
    const QList<ZipEntry> entries =
        Entries({"docs/", "docs/readme.txt", "top.txt", "src/net/a.cpp", "src/b.cpp",
                 "docs/img/x.png", "src/net/", "/abs/x", "a//b"});
    const ZipFolderTree tree = BuildZipFolderTree(entries);
    const struct {
        QString path;
        QStringList shown;
    } cases[] = {
        {"", {"+docs", "+src", "+", "+a", "top.txt"}},
        {"docs", {"+img", "readme.txt"}},
        {"docs/img", {"x.png"}},
        {"src", {"+net", "b.cpp"}},
        {"src/net", {"a.cpp"}},
        {"/abs", {"x"}},
        {"a/", {"b"}},
        {"missing", {"(none)"}},
        {"docs/readme.txt", {"(none)"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Listing(tree, entries, c.path), c.shown) << c.path.toStdString();
        // The summary counts the files shown, not the folders.
        EXPECT_EQ(ListZipFolder(entries, tree, c.path).count,
                  std::count_if(c.shown.begin(), c.shown.end(),
                                [](const QString& name) {
                                    return !name.startsWith(u'+') && !name.startsWith(u'(');
                                }))
            << c.path.toStdString();
    }
    EXPECT_EQ(tree.folders[FindZipFolder(tree, u"docs")].entry, 0);
    EXPECT_EQ(tree.folders[FindZipFolder(tree, u"src/net")].entry, 6);
    EXPECT_EQ(tree.folders[FindZipFolder(tree, u"src")].entry, -1);
    EXPECT_EQ(ZipEntryFolder(entries[6]), "src");
    EXPECT_EQ(ZipEntryBaseName(entries[6]), "net");
}

TEST(ZipFolders, AHostileDepthCostsNoMoreThanItsLength) {
    // 60,000 empty parts: one folder each, chained, with no path ever built whole.
    const QList<ZipEntry> entries = Entries({QString(60000, u'/') + "x"});
    const ZipFolderTree tree = BuildZipFolderTree(entries);
    EXPECT_EQ(tree.folders.size(), 60001);
    EXPECT_EQ(tree.folders.last().files, QList<qsizetype>{0});
}

TEST(ZipFolders, RatioIsTheShareSavedRoundedHalfToEven) {
    const struct {
        quint64 packed, normal;
        std::optional<int> ratio;
    } cases[] = {
        {250, 1000, 75},
        {0, 0, std::nullopt},
        {5, 0, std::nullopt},
        {1000, 1000, 0},
        {1100, 1000, -10},
        {5, 1000, 100},
        {15, 1000, 98},
        {125, 10000, 99},
        {0, 7, 100},
        {1ull << 40, 1ull << 41, 50},
        {~0ull, 1, -999999900},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZipCompressionRatio(c.packed, c.normal), c.ratio) << c.packed << "/" << c.normal;
    }
}

}  // namespace
