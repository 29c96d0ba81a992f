// The list entries brenloft-get acts on name files only in its own folders.
#include "cli/work_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "core/download_list/records.h"
#include "tests/support/sandbox.h"

TEST(ListEntryProblem, PartFilesInTheTempFolderSavePathsInTheFolder) {
    const struct {
        const char* savePath;  // {D} the folder, {T} its temp folder, {O} a folder beside it
        const char* partFile;
        bool kept;
    } cases[] = {
        {"{D}/a.bin", "{T}/a.bin001.tmp", true},
        {"", "{T}/a.bin001.tmp", true},
        {"{D}/sub/a.bin", "", true},
        {"{O}/a.bin", "{T}/a.bin001.tmp", false},
        {"{D}/../out/a.bin", "", false},
        {"{D}/link/a.bin", "", false},  // link: a symbolic link to {O}
        {"a.bin", "", false},
        {"{D}/", "", false},
        {"{D}/a.bin", "{D}/a.bin001.tmp", false},
        {"{D}/a.bin", "{T}/../../out/a.bin001.tmp", false},
        {"{D}/a.bin", "{T}/sub/a.bin001.tmp", false},
    };
    Sandbox box;
    const QString folder = box.file(QStringLiteral("dir"));
    const QString temp = folder + QStringLiteral("/.brenloft-get/temp");
    const QString outside = box.file(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(temp) && QDir().mkpath(outside) && QDir().mkpath(temp + "/sub") &&
                QDir().mkpath(folder + QStringLiteral("/sub")));
    ASSERT_TRUE(QFile::link(outside, folder + QStringLiteral("/link")));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.savePath) + " " + c.partFile);
        const auto path = [&](const char* text) {
            return QString::fromUtf8(text)
                .replace(QStringLiteral("{D}"), folder)
                .replace(QStringLiteral("{T}"), temp)
                .replace(QStringLiteral("{O}"), outside);
        };
        DownloadRecord r;
        r.SavePath = path(c.savePath);
        r.SegmentCount = 2;
        r.Segments.redim(2);
        r.Segments.at(1)->PartFile = path(c.partFile);
        const QString why = ListEntryProblem(r, folder, temp);
        EXPECT_EQ(why.isEmpty(), c.kept) << why.toStdString();
        // The message names the path refused.
        EXPECT_TRUE(why.isEmpty() ||
                    why.contains(why.startsWith(u'p') ? r.Segments.at(1)->PartFile : r.SavePath));
    }
}
