#include "engine/files/segment_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdint>
#include <functional>

#include "core/download_list/download_list.h"
#include "core/paths/no_follow_open.h"
#include "engine/assembly/target_claim.h"
#include "engine/files/part_files.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

constexpr std::int64_t GiB = std::int64_t{1} << 30;
constexpr std::int32_t Piece = 1048576;

// Deterministic bytes that differ from piece to piece, so a misplaced block shows.
QByteArray Pattern(qsizetype size, std::uint32_t seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    std::uint32_t state = seed;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

void WritePart(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Reads with a descriptor of its own, so the component's positions play no part.
QByteArray ReadAt(const QString& path, std::int64_t offset, qsizetype count) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset)) {
        return {};
    }
    return file.read(count);
}

qsizetype OpenDescriptorCount() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
}

}  // namespace

TEST(SegmentFilesOpen, WriteModeCreatesMissingFileReadableByAll) {
    Sandbox box;
    SegmentFiles files;
    const QString path = box.file("new.tmp");
    const mode_t mask = ::umask(022);
    const std::int32_t handle = files.VelmoraOpenFile(path, SegmentFiles::ModeWrite);
    ::umask(mask);
    ASSERT_GT(handle, 0);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(st.st_size, 0);
}

TEST(SegmentFilesOpen, WriteModeKeepsExistingContents) {
    Sandbox box;
    const QString path = box.file("part001.tmp");
    WritePart(path, "0123456789");
    SegmentFiles files;
    const std::int32_t handle = files.VelmoraOpenFile(path, SegmentFiles::ModeWrite);
    ASSERT_GT(handle, 0);
    // Reopening after a pause resumes in the middle: only the bytes written are replaced.
    files.VelmoraSeekFile(handle, Currency::fromBytes(4));
    EXPECT_EQ(files.VelmoraWriteFile(handle, "ab", 2), 2);
    files.VelmoraCloseFile(handle);
    EXPECT_EQ(ReadFile(path), QByteArray("0123ab6789"));
}

TEST(SegmentFilesOpen, FailuresGiveHandleZero) {
    Sandbox box;
    SegmentFiles files;
    EXPECT_EQ(files.VelmoraOpenFile(box.file("missing.tmp"), SegmentFiles::ModeRead), 0);
    EXPECT_EQ(files.lastOpenErrno(), ENOENT);
    EXPECT_FALSE(QFileInfo::exists(box.file("missing.tmp")));

    EXPECT_EQ(files.VelmoraOpenFile(box.file("no/such/folder.tmp"), SegmentFiles::ModeWrite), 0);
    EXPECT_EQ(files.VelmoraOpenFile(QString(), SegmentFiles::ModeWrite), 0);
    EXPECT_EQ(files.VelmoraOpenFile(box.file("x.tmp"), 7), 0);
    EXPECT_FALSE(QFileInfo::exists(box.file("x.tmp")));

    // A NUL must not cut the path short and open "a" instead.
    const QString cut = box.file("a") + QChar(u'\0') + QStringLiteral("b");
    EXPECT_EQ(files.VelmoraOpenFile(cut, SegmentFiles::ModeWrite), 0);
    EXPECT_FALSE(QFileInfo::exists(box.file("a")));
    EXPECT_EQ(files.openCount(), 0u);
}

TEST(SegmentFilesOpen, HandlesArePositiveAndNotReusedWhileOpen) {
    Sandbox box;
    SegmentFiles files;
    const std::int32_t a = files.VelmoraOpenFile(box.file("a.tmp"), SegmentFiles::ModeWrite);
    const std::int32_t b = files.VelmoraOpenFile(box.file("b.tmp"), SegmentFiles::ModeWrite);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    files.VelmoraCloseFile(a);
    const std::int32_t c = files.VelmoraOpenFile(box.file("c.tmp"), SegmentFiles::ModeWrite);
    ASSERT_GT(c, 0);
    EXPECT_NE(c, b);
    // Each handle still reaches its own file.
    EXPECT_EQ(files.VelmoraWriteFile(b, "B", 1), 1);
    EXPECT_EQ(files.VelmoraWriteFile(c, "C", 1), 1);
    files.VelmoraCloseAll();
    EXPECT_EQ(ReadFile(box.file("b.tmp")), QByteArray("B"));
    EXPECT_EQ(ReadFile(box.file("c.tmp")), QByteArray("C"));
}

TEST(SegmentFilesOffsets, WritesBeyondFourGiBLandWhereSought) {
    Sandbox box;
    const QString path = box.file("big.tmp");
    SegmentFiles files;
    const std::int32_t handle = files.VelmoraOpenFile(path, SegmentFiles::ModeWrite);
    ASSERT_GT(handle, 0);

    // Across the 32-bit boundary, then well past it.
    files.VelmoraSeekFile(handle, Currency::fromBytes(4 * GiB - 1));
    ASSERT_EQ(files.VelmoraWriteFile(handle, "xy", 2), 2);
    files.VelmoraSeekFile(handle, Currency::fromBytes(5 * GiB));
    ASSERT_EQ(files.VelmoraWriteFile(handle, "tail", 4), 4);
    // The position advanced past the first write.
    ASSERT_EQ(files.VelmoraWriteFile(handle, "+", 1), 1);
    files.VelmoraCloseFile(handle);

    EXPECT_EQ(QFileInfo(path).size(), 5 * GiB + 5);
    EXPECT_EQ(ReadAt(path, 4 * GiB - 2, 4), QByteArray("\0xy\0", 4));
    EXPECT_EQ(ReadAt(path, 5 * GiB - 1, 6), QByteArray("\0tail+", 6));

    const std::int32_t reader = files.VelmoraOpenFile(path, SegmentFiles::ModeRead);
    ASSERT_GT(reader, 0);
    files.VelmoraSeekFile(reader, Currency::fromBytes(5 * GiB + 2));
    char buffer[8] = {};
    EXPECT_EQ(files.VelmoraReadFile(reader, buffer, sizeof buffer), 3);
    EXPECT_EQ(QByteArray(buffer, 3), QByteArray("il+"));
    EXPECT_EQ(files.VelmoraReadFile(reader, buffer, sizeof buffer), 0);
}

TEST(SegmentFilesOffsets, SeekOrigins) {
    Sandbox box;
    const QString path = box.file("s.tmp");
    WritePart(path, "abcdef");
    SegmentFiles files;
    const std::int32_t handle = files.VelmoraOpenFile(path, SegmentFiles::ModeWrite);
    ASSERT_GT(handle, 0);

    files.VelmoraSeekFile(handle, Currency::fromBytes(0), SegmentFiles::OriginEnd);
    EXPECT_EQ(files.VelmoraWriteFile(handle, "G", 1), 1);
    files.VelmoraSeekFile(handle, Currency::fromBytes(-3), SegmentFiles::OriginCurrent);
    EXPECT_EQ(files.VelmoraWriteFile(handle, "E", 1), 1);
    // A seek before the start is refused and leaves the position where it was.
    files.VelmoraSeekFile(handle, Currency::fromBytes(-1));
    EXPECT_EQ(files.lastErrno(handle), EINVAL);
    EXPECT_EQ(files.VelmoraWriteFile(handle, "F", 1), 1);
    EXPECT_EQ(files.lastErrno(handle), 0);
    files.VelmoraCloseFile(handle);
    EXPECT_EQ(ReadFile(path), QByteArray("abcdEFG"));
}

TEST(SegmentFilesErrors, WriteToReadOnlyHandleFailsWithEbadf) {
    Sandbox box;
    const QString path = box.file("r.tmp");
    WritePart(path, "keep");
    SegmentFiles files;
    const std::int32_t handle = files.VelmoraOpenFile(path, SegmentFiles::ModeRead);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(files.VelmoraWriteFile(handle, "zz", 2), -1);
    EXPECT_EQ(files.lastErrno(handle), EBADF);
    files.VelmoraCloseFile(handle);
    EXPECT_EQ(ReadFile(path), QByteArray("keep"));
}

TEST(SegmentFilesErrors, FullDiskIsReportedAsEnospc) {
    if (!QFileInfo::exists(QStringLiteral("/dev/full"))) {
        GTEST_SKIP() << "no /dev/full";
    }
    SegmentFiles files;
    const std::int32_t handle =
        files.VelmoraOpenFile(QStringLiteral("/dev/full"), SegmentFiles::ModeWrite);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(files.VelmoraWriteFile(handle, "data", 4), -1);
    EXPECT_EQ(files.lastErrno(handle), ENOSPC);
}

TEST(SegmentFilesErrors, UnknownHandlesAreHarmless) {
    Sandbox box;
    SegmentFiles files;
    char buffer[4];
    files.VelmoraSeekFile(42, Currency::fromBytes(1));
    files.VelmoraCloseFile(42);
    EXPECT_EQ(files.VelmoraWriteFile(0, "a", 1), -1);
    EXPECT_EQ(files.VelmoraWriteFile(-5, "a", 1), -1);
    EXPECT_EQ(files.VelmoraReadFile(42, buffer, 4), -1);
    EXPECT_EQ(files.lastErrno(42), EBADF);

    const std::int32_t handle = files.VelmoraOpenFile(box.file("a.tmp"), SegmentFiles::ModeWrite);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(files.VelmoraReadWrite(42, handle, 1), -1);
    EXPECT_EQ(files.VelmoraReadWrite(handle, 42, 1), -1);
    EXPECT_EQ(files.VelmoraReadWrite(handle, handle, 1), -1);
    EXPECT_EQ(files.VelmoraWriteFile(handle, "a", -1), -1);
    EXPECT_EQ(files.VelmoraWriteFile(handle, nullptr, 0), 0);
}

TEST(SegmentFilesClose, CloseAllClosesEveryHandle) {
    Sandbox box;
    const qsizetype before = OpenDescriptorCount();
    SegmentFiles files;
    const std::int32_t a = files.VelmoraOpenFile(box.file("a.tmp"), SegmentFiles::ModeWrite);
    const std::int32_t b = files.VelmoraOpenFile(box.file("b.tmp"), SegmentFiles::ModeWrite);
    const std::int32_t c = files.VelmoraOpenFile(box.file("a.tmp"), SegmentFiles::ModeRead);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    ASSERT_GT(c, 0);
    EXPECT_EQ(OpenDescriptorCount(), before + 3);
    files.VelmoraCloseAll();
    EXPECT_EQ(files.openCount(), 0u);
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_EQ(files.VelmoraWriteFile(a, "x", 1), -1);
    EXPECT_EQ(files.VelmoraWriteFile(b, "x", 1), -1);
    EXPECT_EQ(files.lastErrno(a), EBADF);
    EXPECT_EQ(QFileInfo(box.file("a.tmp")).size(), 0);
}

TEST(SegmentFilesClose, DestructorAndCloseFileReleaseDescriptors) {
    Sandbox box;
    const qsizetype before = OpenDescriptorCount();
    {
        SegmentFiles files;
        const std::int32_t a = files.VelmoraOpenFile(box.file("a.tmp"), SegmentFiles::ModeWrite);
        ASSERT_GT(files.VelmoraOpenFile(box.file("b.tmp"), SegmentFiles::ModeWrite), 0);
        files.VelmoraCloseFile(a);
        EXPECT_EQ(OpenDescriptorCount(), before + 1);
        files.VelmoraCloseFile(a);  // twice is harmless
        EXPECT_EQ(files.openCount(), 1u);
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(SegmentFilesCopy, JoinsPartFilesInPiecesAndRemainder) {
    Sandbox box;
    const QByteArray parts[] = {Pattern(2 * Piece + 12345, 1), Pattern(Piece, 2), Pattern(7, 3)};
    QByteArray expected;
    for (int i = 0; i < 3; ++i) {
        WritePart(box.file(QStringLiteral("f%1.tmp").arg(i + 1, 3, 10, QChar(u'0'))), parts[i]);
        expected += parts[i];
    }

    SegmentFiles files;
    const QString output = box.file("joined.bin");
    const std::int32_t out = files.VelmoraOpenFile(output, SegmentFiles::ModeWrite);
    ASSERT_GT(out, 0);
    for (int i = 0; i < 3; ++i) {
        const QString part = box.file(QStringLiteral("f%1.tmp").arg(i + 1, 3, 10, QChar(u'0')));
        const std::int32_t in = files.VelmoraOpenFile(part, SegmentFiles::ModeRead);
        ASSERT_GT(in, 0);
        const std::int64_t size = QFileInfo(part).size();
        for (std::int64_t k = 0; k < size / Piece; ++k) {
            ASSERT_EQ(files.VelmoraReadWrite(in, out, Piece), Piece);
        }
        const auto remainder = static_cast<std::int32_t>(size % Piece);
        ASSERT_EQ(files.VelmoraReadWrite(in, out, remainder), remainder);
        files.VelmoraCloseFile(in);
    }
    files.VelmoraCloseFile(out);
    EXPECT_EQ(ReadFile(output), expected);
}

TEST(SegmentFilesCopy, SourceEndingEarlyGivesShortCount) {
    Sandbox box;
    const QByteArray data = Pattern(1000, 9);
    WritePart(box.file("src.tmp"), data);
    SegmentFiles files;
    const std::int32_t in = files.VelmoraOpenFile(box.file("src.tmp"), SegmentFiles::ModeRead);
    const std::int32_t out = files.VelmoraOpenFile(box.file("dst.bin"), SegmentFiles::ModeWrite);
    ASSERT_GT(in, 0);
    ASSERT_GT(out, 0);
    files.VelmoraSeekFile(in, Currency::fromBytes(400));
    EXPECT_EQ(files.VelmoraReadWrite(in, out, Piece), 600);
    EXPECT_EQ(files.lastErrno(out), 0);
    EXPECT_EQ(files.VelmoraReadWrite(in, out, Piece), 0);
    // The destination advanced by what was copied.
    EXPECT_EQ(files.VelmoraWriteFile(out, "!", 1), 1);
    files.VelmoraCloseAll();
    EXPECT_EQ(ReadFile(box.file("dst.bin")), data.mid(400) + '!');
}

TEST(SegmentFilesCopy, CopiesFromBeyondFourGiB) {
    Sandbox box;
    SegmentFiles files;
    const QString big = box.file("big.tmp");
    const std::int32_t w = files.VelmoraOpenFile(big, SegmentFiles::ModeWrite);
    ASSERT_GT(w, 0);
    files.VelmoraSeekFile(w, Currency::fromBytes(5 * GiB));
    ASSERT_EQ(files.VelmoraWriteFile(w, "far away", 8), 8);
    files.VelmoraCloseFile(w);

    const std::int32_t in = files.VelmoraOpenFile(big, SegmentFiles::ModeRead);
    const std::int32_t out = files.VelmoraOpenFile(box.file("out.bin"), SegmentFiles::ModeWrite);
    ASSERT_GT(in, 0);
    ASSERT_GT(out, 0);
    files.VelmoraSeekFile(in, Currency::fromBytes(5 * GiB + 4));
    files.VelmoraSeekFile(out, Currency::fromBytes(4 * GiB + 1));
    EXPECT_EQ(files.VelmoraReadWrite(in, out, 100), 4);
    files.VelmoraCloseAll();
    EXPECT_EQ(QFileInfo(box.file("out.bin")).size(), 4 * GiB + 5);
    EXPECT_EQ(ReadAt(box.file("out.bin"), 4 * GiB, 5), QByteArray("\0away", 5));
}

// Sources the kernel will not copy from directly go through the buffer instead.
TEST(SegmentFilesCopy, FallsBackWhereKernelCopyIsRefused) {
    Sandbox box;
    SegmentFiles files;
    const std::int32_t out = files.VelmoraOpenFile(box.file("out.bin"), SegmentFiles::ModeWrite);
    ASSERT_GT(out, 0);
    ASSERT_EQ(files.VelmoraWriteFile(out, "<", 1), 1);

    // A character device: copy_file_range refuses it outright.
    const std::int32_t zero =
        files.VelmoraOpenFile(QStringLiteral("/dev/zero"), SegmentFiles::ModeRead);
    ASSERT_GT(zero, 0);
    EXPECT_EQ(files.VelmoraReadWrite(zero, out, Piece + 3), Piece + 3);

    // procfs reports a size of 0 for files that have contents.
    const QByteArray version = ReadFile(QStringLiteral("/proc/version"));
    if (!version.isEmpty()) {
        const std::int32_t proc =
            files.VelmoraOpenFile(QStringLiteral("/proc/version"), SegmentFiles::ModeRead);
        ASSERT_GT(proc, 0);
        EXPECT_EQ(files.VelmoraReadWrite(proc, out, 65536), version.size());
    }
    ASSERT_EQ(files.VelmoraWriteFile(out, ">", 1), 1);
    files.VelmoraCloseAll();
    EXPECT_EQ(ReadFile(box.file("out.bin")), '<' + QByteArray(Piece + 3, '\0') + version + '>');
}

TEST(SegmentFilesCopy, CopyIntoReadOnlyDestinationFails) {
    Sandbox box;
    WritePart(box.file("a.tmp"), "abc");
    WritePart(box.file("b.tmp"), "xyz");
    SegmentFiles files;
    const std::int32_t in = files.VelmoraOpenFile(box.file("a.tmp"), SegmentFiles::ModeRead);
    const std::int32_t out = files.VelmoraOpenFile(box.file("b.tmp"), SegmentFiles::ModeRead);
    ASSERT_GT(in, 0);
    ASSERT_GT(out, 0);
    EXPECT_EQ(files.VelmoraReadWrite(in, out, 3), -1);
    EXPECT_EQ(files.lastErrno(out), EBADF);
    EXPECT_EQ(ReadFile(box.file("b.tmp")), QByteArray("xyz"));
}

// A symbolic link planted under a name the program writes (or the list's ".new"), pointing at
// a file outside its folder: the write is refused with the reason, the file keeps its bytes.
TEST(SegmentFilesOpen, NoWriteGoesThroughALinkPlantedUnderOneOfOurNames) {
    const struct {
        const char* name;
        const char* linkSuffix;
        std::function<QString(const QString& path)> write;  // what it failed with, or took
        const char* outcome;
    } rows[] = {
        {"part file", "",
         [](const QString& path) {
             SegmentFiles files;
             files.VelmoraOpenFile(path, SegmentFiles::ModeWrite);
             return OpenErrorText(files.lastOpenErrno());
         },
         "is a symbolic link"},
        {"target that may be replaced", "",
         [](const QString& path) { return ClaimTarget(path, true).path; }, "Brenloft[1].dat"},
        {"list file", "",
         [](const QString& path) {
             DownloadListState list;
             return LoadList(list, path).error;
         },
         "is a symbolic link"},
        {"list's .new", ".new", [](const QString& path) { return SaveList({}, path); },
         "is a symbolic link"},
    };
    for (const auto& row : rows) {
        Sandbox outside;
        Sandbox box;
        const QByteArray bytes = Pattern(3000, 7);
        WritePart(outside.file("victim"), bytes);
        const QString path = box.file("Brenloft.dat");
        ASSERT_TRUE(QFile::link(outside.file("victim"), path + QLatin1String(row.linkSuffix)));
        EXPECT_TRUE(row.write(path).endsWith(QLatin1String(row.outcome))) << row.name;
        EXPECT_EQ(ReadAt(outside.file("victim"), 0, 4000), bytes) << row.name;
    }
}

// At start-up only part files of ours that no entry names leave the temp folder.
TEST(UnnamedPartFiles, OnlyOursThatNoEntryNamesAreRemoved) {
    Sandbox box;
    const QString temp = box.file(QStringLiteral("temp"));
    ASSERT_TRUE(QDir().mkpath(temp + QStringLiteral("/update")));
    struct Case {
        const char* name;
        bool named;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"kept.iso001.tmp", true, true},      {"orphan.iso002.tmp", false, false},
        {"notes.txt", false, true},           {"x.tmp", false, true},
        {"update/a.bin001.tmp", false, true},
    };
    DownloadListState list;
    list.DownloadList.resize(2);
    list.DownloadCount = 1;
    DownloadRecord& r = list.DownloadList[1];
    for (const Case& c : cases) {
        WritePart(temp + u'/' + QLatin1String(c.name), "x");
        if (c.named) {
            r.Segments.redim(1);
            r.SegmentCount = 1;
            r.Segments.at(1)->PartFile = temp + u'/' + QLatin1String(c.name);
        }
    }
    EXPECT_EQ(DeleteUnnamedPartFiles(list, temp + u'/'), 1);
    for (const Case& c : cases) {
        EXPECT_EQ(QFileInfo::exists(temp + u'/' + QLatin1String(c.name)), c.kept) << c.name;
    }
}
