#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <functional>
#include <ostream>

#include "tests/archive/read_as_preview.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

// Archives made by Info-ZIP's zip and by Python's zipfile, read as the preview reads them and
// compared field by field with what zipfile reads, and by name with what unzip lists.

namespace {

// Runs a program to its end; its standard output, or a null array when it did not finish with
// an exit code up to `worstExit` (unzip says 1 for warnings such as data in front).
QByteArray RunProgram(const QString& program, const QStringList& arguments, const QString& folder,
                      int worstExit = 0) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() > worstExit) {
        ADD_FAILURE() << program.toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    QByteArray out = process.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

const QString kPython = QStringLiteral("/usr/bin/python3");

QString Samples() {
    return SourcePath(QStringLiteral("tests/archive/directory_samples.py"));
}

// A small tree for zip: text that deflates, random bytes stored, an empty folder, a symlink.
void MakeTree(const QString& root) {
    QDir(root).mkpath(QStringLiteral("docs/img"));
    QDir(root).mkpath(QStringLiteral("empty"));
    WriteFile(root + "/top.txt", "top of the tree\n");
    WriteFile(root + "/docs/readme.txt", QByteArray("read me, please.\n").repeated(300));
    WriteFile(root + "/docs/img/pic.bin", RandomBytes(5000));
    QFile::link(QStringLiteral("top.txt"), root + "/link");
}

bool Zip(const QString& root, const QString& out, const QStringList& options) {
    MakeTree(root);
    const QStringList what{"docs", "top.txt", "empty", "link"};
    return !RunProgram(QStringLiteral("zip"),
                       QStringList{"-q", "-r", "-y"} + options + QStringList{out} + what, root)
                .isNull();
}

bool Python(const QString& kind, const QString& out) {
    return !RunProgram(kPython, {Samples(), "make", kind, out}, QDir::tempPath()).isNull();
}

bool PrependBytes(const QString& path, qsizetype count) {
    return WriteFile(path, RandomBytes(count) + ReadFile(path));
}

struct Sample {
    const char* name;
    std::function<bool(const QString& root, const QString& out)> make;
    bool zip64;
    int extraFetches;
    qint64 bytesInFront;
    bool compareWithUnzip;  // names unzip -Z1 prints as they are stored (ASCII only)
    int encrypted;          // members with the encryption flag
};

const Sample kSamples[] = {
    {"zip_folders_stored_and_deflated",
     [](const QString& root, const QString& out) {
         return Zip(root, out, {"-n", ".bin"});
     },
     false, 0, 0, true, 0},
    {"zip_data_in_front",
     [](const QString& root, const QString& out) {
         return Zip(root, out, {"-n", ".bin"}) && PrependBytes(out, 4321);
     },
     false, 0, 4321, true, 0},
    {"zip_encrypted",
     [](const QString& root, const QString& out) {
         return Zip(root, out, {"-P", "secret"});
     },
     false, 0, 0, true, 4},
    {"zip_forced_zip64_data_in_front",
     [](const QString& root, const QString& out) {
         return Zip(root, out, {"-fz"}) && PrependBytes(out, 777);
     },
     true, 0, 777, true, 0},
    {"python_utf8_names", [](const QString&, const QString& out) { return Python("utf8", out); },
     false, 0, 0, false, 0},
    {"python_cp437_names", [](const QString&, const QString& out) { return Python("cp437", out); },
     false, 0, 0, false, 0},
    {"python_comment", [](const QString&, const QString& out) { return Python("comment", out); },
     false, 0, 0, true, 0},
    {"python_zip64_70000_entries_longest_comment",
     [](const QString&, const QString& out) { return Python("zip64", out); }, true, 1, 0, true, 0},
};

// Names the case in test listings, in place of its bytes.
void PrintTo(const Sample& c, std::ostream* out) {
    *out << c.name;
}

class ZipSamples : public ::testing::TestWithParam<Sample> {};

TEST_P(ZipSamples, ListsWhatZipfileAndUnzipList) {
    const Sample& sample = GetParam();
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
        const QByteArray listed =
            RunProgram(QStringLiteral("unzip"), {"-Z1", archive}, box.path(), 1);
        EXPECT_EQ(names, QString::fromUtf8(listed).split(u'\n', Qt::SkipEmptyParts));
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, ZipSamples, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
