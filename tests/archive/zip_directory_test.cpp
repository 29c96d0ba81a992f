#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "tests/archive/read_as_preview.h"
#include "tests/archive/zip_samples.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

// Archives made by Info-ZIP's zip and by Python's zipfile, read as the preview reads them and
// compared field by field with what zipfile reads, and by name with what unzip lists.

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

QString Samples() {
    return SourcePath(QStringLiteral("tests/archive/directory_samples.py"));
}

class ZipSampleReads : public ::testing::TestWithParam<ZipSample> {};

TEST_P(ZipSampleReads, ListsWhatZipfileAndUnzipList) {
    const ZipSample& sample = GetParam();
    Sandbox box;
    const QString archive = box.file(QStringLiteral("sample.zip"));
    QDir(box.path()).mkpath(QStringLiteral("tree"));
    ASSERT_TRUE(sample.make(box.file(QStringLiteral("tree")), archive));

    const QByteArray file = ReadFile(archive);
    const PreviewRead read = ReadAsPreview(file);
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    ASSERT_TRUE(read.directory.ok()) << read.directory.error.toStdString();
    EXPECT_EQ(read.location.zip64, sample.zip64);
    EXPECT_EQ(read.extraFetches, sample.extraFetches);
    EXPECT_EQ(read.location.bytesInFront, sample.bytesInFront);
    // Read from the disk, as extraction reads it: the same entries.
    const ZipDirectoryResult onDisk = ReadZipDirectoryFile(archive);
    EXPECT_TRUE(onDisk.ok()) << onDisk.error.toStdString();
    EXPECT_EQ(onDisk.entries.size(), read.directory.entries.size());

    const QJsonArray expected =
        QJsonDocument::fromJson(RunProgram(kPython, {Samples(), "list", archive}, box.path()))
            .array();
    const QList<ZipEntry>& entries = read.directory.entries;
    ASSERT_EQ(entries.size(), expected.size());
    ASSERT_GT(entries.size(), 0);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const ZipEntry& e = entries[i];
        const QJsonObject want = expected[i].toObject();
        SCOPED_TRACE(want["name"].toString().toStdString());
        EXPECT_EQ(e.name, want["name"].toString());
        EXPECT_EQ(e.compressedSize, quint64(want["compressed"].toInteger()));
        EXPECT_EQ(e.uncompressedSize, quint64(want["uncompressed"].toInteger()));
        EXPECT_EQ(e.crc32, quint32(want["crc"].toInteger()));
        EXPECT_EQ(e.method, want["method"].toInt());
        EXPECT_EQ(e.flags, want["flags"].toInt());
        EXPECT_EQ(e.localHeaderOffset, want["offset"].toInteger());
        const auto external = quint32(want["external"].toInteger());
        EXPECT_EQ(e.externalAttributes, external);
        EXPECT_EQ(e.unixMode(), external >> 16);  // both writers say Unix made them
        EXPECT_EQ(e.isSymlink(), (external >> 16 & 0170000) == 0120000);
        EXPECT_EQ(e.encrypted(), (want["flags"].toInt() & 1) != 0);
        const QJsonArray when = want["when"].toArray();
        EXPECT_EQ(e.modified().date(), QDate(when[0].toInt(), when[1].toInt(), when[2].toInt()));
        EXPECT_EQ(e.modified().time(), QTime(when[3].toInt(), when[4].toInt(), when[5].toInt()));
    }
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                            [](const ZipEntry& e) { return e.encrypted(); }),
              sample.encrypted);
    if (sample.compareWithUnzip) {
        QStringList names;
        for (const ZipEntry& e : entries) {
            names.append(e.name);
        }
        EXPECT_EQ(names, UnzipNames(archive, box.path()));
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, ZipSampleReads, ::testing::ValuesIn(ZipSamples()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
