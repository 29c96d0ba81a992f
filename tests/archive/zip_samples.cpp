#include "tests/archive/zip_samples.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

QByteArray RunProgram(const QString& program, const QStringList& arguments, const QString& folder,
                      int worstExit) {
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

QStringList UnzipNames(const QString& archive, const QString& folder) {
    const QByteArray listed = RunProgram(QStringLiteral("unzip"), {"-Z1", archive}, folder, 1);
    return QString::fromUtf8(listed).split(u'\n', Qt::SkipEmptyParts);
}

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

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
    const QString samples = SourcePath(QStringLiteral("tests/archive/directory_samples.py"));
    return !RunProgram(kPython, {samples, "make", kind, out}, QDir::tempPath()).isNull();
}

bool PrependBytes(const QString& path, qsizetype count) {
    return WriteFile(path, RandomBytes(count) + ReadFile(path));
}

// Gives the archive the longest comment, so that its ZIP64 records lie before the tail the
// first read takes. The writer left no comment: the end record is the last 22 bytes.
bool LongestComment(const QString& path) {
    QByteArray file = ReadFile(path);
    if (file.size() < 22 || !file.right(22).startsWith("PK\x05\x06")) {
        return false;
    }
    file[file.size() - 2] = '\xFF';
    file[file.size() - 1] = '\xFF';
    return WriteFile(path, file + QByteArray(65535, 'c'));
}

}  // namespace

const std::vector<ZipSample>& ZipSamples() {
    static const std::vector<ZipSample> samples = {
        {"zip_folders_stored_and_deflated",
         [](const QString& root, const QString& out) {
             return Zip(root, out, {"-n", ".bin"});
         },
         false, 0, 0, true, 0, false},
        {"zip_data_in_front",
         [](const QString& root, const QString& out) {
             return Zip(root, out, {"-n", ".bin"}) && PrependBytes(out, 4321);
         },
         false, 0, 4321, true, 0, false},
        {"zip_encrypted",
         [](const QString& root, const QString& out) {
             return Zip(root, out, {"-P", "secret"});
         },
         false, 0, 0, true, 4, false},
        {"zip_forced_zip64_data_in_front",
         [](const QString& root, const QString& out) {
             return Zip(root, out, {"-fz"}) && PrependBytes(out, 777);
         },
         true, 0, 777, true, 0, false},
        {"zip_forced_zip64_longest_comment",
         [](const QString& root, const QString& out) {
             return Zip(root, out, {"-fz"}) && LongestComment(out);
         },
         true, 1, 0, true, 0, false},
        {"python_utf8_names",
         [](const QString&, const QString& out) { return Python("utf8", out); }, false, 0, 0, false,
         0, false},
        {"python_cp437_names",
         [](const QString&, const QString& out) { return Python("cp437", out); }, false, 0, 0,
         false, 0, false},
        {"python_comment",
         [](const QString&, const QString& out) { return Python("comment", out); }, false, 0, 0,
         true, 0, false},
        {"python_zip64_70000_entries_longest_comment",
         [](const QString&, const QString& out) { return Python("zip64", out); }, true, 1, 0, true,
         0, true},
    };
    return samples;
}
