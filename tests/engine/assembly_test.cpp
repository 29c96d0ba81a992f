#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "engine/assembly/antivirus_command.h"
#include "engine/assembly/assemble_download.h"
#include "engine/assembly/completion.h"
#include "engine/assembly/plain_file_name.h"
#include "engine/assembly/target_path.h"
#include "tests/support/engine_rig.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"

namespace {

constexpr qsizetype MiB = 1048576;

void WritePart(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A real list, settings and part-file component in a sandbox with "downloads/" and "temp/".
// Assembly never asks anything: a question fails the test where it is asked, a message here.
class Assembly : public ::testing::Test, protected EngineRig {
protected:
    void TearDown() override { EXPECT_EQ(prompts.messages, QStringList{}); }

    QString downloads(const QString& name) const { return EngineRig::downloads() + name; }

    // A download whose segments have all arrived, one part file per entry of `parts`.
    int addFinishedDownload(const QString& fileName, const std::vector<QByteArray>& parts) {
        DownloadRecord record;
        record.Url = QStringLiteral("http://127.0.0.1/") + fileName;
        record.FileName = fileName;
        record.Active = FlagTrue;
        record.Running = FlagTrue;
        record.SegmentCount = static_cast<std::int16_t>(parts.size());
        record.Segments.redim(record.SegmentCount);
        std::int64_t next = 0;  // where the next segment's range begins
        for (std::size_t i = 0; i < parts.size(); ++i) {
            SegmentRecord& segment = *record.Segments.at(static_cast<std::int32_t>(i + 1));
            segment.StartPos = Currency::fromBytes(next);
            next += parts[i].size();
            segment.EndPos = Currency::fromBytes(next - 1);
            segment.PartFile = file(
                QStringLiteral("temp/%1%2.tmp").arg(fileName).arg(int(i + 1), 3, 10, QChar(u'0')));
            segment.Length = Currency::fromBytes(parts[i].size());
            segment.InPlan = FlagTrue;
            segment.State = SegmentState::Complete;
            WritePart(segment.PartFile, parts[i]);
        }
        list.DownloadList.append(record);
        list.DownloadCount = static_cast<std::int16_t>(list.DownloadList.size() - 1);
        return list.DownloadCount;
    }

    AssemblyResult assemble(int slot, bool deleteParts, std::int64_t upTo = -1) {
        int calls = 0;
        AssemblyResult result;
        AssembleDownload(
            ctx, slot, deleteParts,
            [&](const AssemblyResult& r) {
                ++calls;
                result = r;
            },
            upTo);
        EXPECT_EQ(calls, 0) << "done must wait for the event loop";
        EXPECT_TRUE(WaitFor([&] { return calls > 0; }));
        // A second report would come from a continuation still queued.
        QCoreApplication::processEvents();
        EXPECT_EQ(calls, 1);
        return result;
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Joining

TEST_F(Assembly, JoinsPartsOfNoneOneExactPieceAndSeveralPiecesInOrder) {
    const std::vector<QByteArray> parts{QByteArray(), RandomBytes(MiB), RandomBytes(2500001)};
    const int slot = addFinishedDownload(QStringLiteral("archive.zip"), parts);
    const QStringList temps = partFiles(slot);

    const AssemblyResult result = assemble(slot, true);

    ASSERT_TRUE(result.complete) << result.message.toStdString();
    EXPECT_TRUE(result.message.isEmpty());
    const QString target = downloads(QStringLiteral("archive.zip"));
    EXPECT_EQ(result.targetPath, target);
    EXPECT_TRUE(ReadFile(target) == parts[0] + parts[1] + parts[2]);
    EXPECT_EQ(record(slot).SavePath, target);
    EXPECT_EQ(record(slot).FileName, QStringLiteral("archive.zip"));
    EXPECT_EQ(StateOf(record(slot)), ListEntryState::Finished);
    EXPECT_EQ(record(slot).Running, FlagFalse);
    EXPECT_EQ(record(slot).Percent, 100.0f);
    for (const QString& temp : temps) {
        EXPECT_FALSE(QFileInfo::exists(temp)) << temp.toStdString();
    }
    EXPECT_EQ(files.openCount(), 0u);
}

// A forced build counts the bytes before the first gap, joins only those, and every part file
// goes, those behind the gap too.
TEST_F(Assembly, ForcedBuildJoinsWhatArrivedBeforeTheFirstGap) {
    const std::vector<QByteArray> parts{RandomBytes(1000), RandomBytes(MiB + 3), RandomBytes(500)};
    const struct {
        const char* name;
        std::vector<int> held;
        std::int64_t inOrder;
    } cases[] = {
        {"whole.bin", {1000, MiB + 3, 500}, 1000 + MiB + 3 + 500},
        {"gap.bin", {1000, 700, 500}, 1700},
        {"nothing.bin", {0, MiB + 3, 500}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int slot = addFinishedDownload(QString::fromLatin1(c.name), parts);
        const QStringList temps = partFiles(slot);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            WritePart(temps[qsizetype(i)], parts[i].left(c.held[i]));
        }
        const ReceivedBytes received = ReceivedInOrder(record(slot));
        EXPECT_EQ(received.inOrder, c.inOrder);
        EXPECT_EQ(received.planned, 1000 + MiB + 3 + 500);
        if (c.inOrder == 0) {
            continue;
        }
        const AssemblyResult result =
            assemble(slot, true, received.whole() ? -1 : received.inOrder);
        ASSERT_TRUE(result.complete) << result.message.toStdString();
        EXPECT_EQ(result.built, c.inOrder);
        EXPECT_TRUE(ReadFile(result.targetPath) ==
                    (parts[0] + parts[1] + parts[2]).left(c.inOrder));
        EXPECT_TRUE(std::none_of(temps.begin(), temps.end(),
                                 [](const QString& p) { return QFile::exists(p); }));
    }
}

TEST_F(Assembly, KeepsPartFilesWhenNotAskedToDeleteThem) {
    const std::vector<QByteArray> parts{RandomBytes(1000), RandomBytes(2000)};
    const int slot = addFinishedDownload(QStringLiteral("keep.bin"), parts);

    const AssemblyResult result = assemble(slot, false);

    ASSERT_TRUE(result.complete) << result.message.toStdString();
    const QStringList temps = partFiles(slot);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_TRUE(ReadFile(temps[qsizetype(i)]) == parts[i]);
    }
    EXPECT_EQ(StateOf(record(slot)), ListEntryState::Finished);
}

// Part files are private; the finished file is an ordinary file of the user's, whichever way
// the join built it (in the first part, or copied with the parts kept).
TEST_F(Assembly, FinishedFileGetsTheModeTheUmaskGivesNewFiles) {
    struct Case {
        mode_t umask;
        bool deleteParts;
        QFileDevice::Permissions expected;
    };
    using P = QFileDevice::Permission;
    const QFileDevice::Permissions rw = P::ReadOwner | P::WriteOwner | P::ReadUser | P::WriteUser;
    const Case cases[] = {
        {022, true, rw | P::ReadGroup | P::ReadOther},
        {022, false, rw | P::ReadGroup | P::ReadOther},
        {002, true, rw | P::ReadGroup | P::WriteGroup | P::ReadOther},
        {077, true, rw},
    };
    const mode_t saved = ::umask(022);
    int n = 0;
    for (const Case& c : cases) {
        ::umask(c.umask);
        const QString name = QStringLiteral("mode%1.bin").arg(n++);
        const int slot = addFinishedDownload(name, {RandomBytes(100), RandomBytes(200)});
        const QString firstPart = partFiles(slot).first();
        ASSERT_TRUE(QFile::setPermissions(firstPart, P::ReadOwner | P::WriteOwner));
        ASSERT_TRUE(assemble(slot, c.deleteParts).complete);
        EXPECT_EQ(QFileInfo(downloads(name)).permissions(), c.expected)
            << "umask " << std::oct << c.umask << " deleteParts " << c.deleteParts;
    }
    ::umask(saved);
}

TEST_F(Assembly, DecodedNameFromTheRecordStaysInsideTheDownloadFolder) {
    const int slot = addFinishedDownload(QStringLiteral("x"), {RandomBytes(10)});
    record(slot).FileName = QStringLiteral("..%2F..%2Fevil%20name.sh");

    const AssemblyResult result = assemble(slot, false);

    ASSERT_TRUE(result.complete) << result.message.toStdString();
    EXPECT_EQ(result.targetPath, downloads(QStringLiteral("_.._evil name.sh")));
    EXPECT_EQ(record(slot).FileName, QStringLiteral("_.._evil name.sh"));
    // Nothing but the list, which the join saves at once: a program ended now finds the
    // download finished.
    EXPECT_EQ(QDir(root()).entryList(QDir::Files), QStringList{QFileInfo(listPath()).fileName()});
    DownloadListState saved;
    ASSERT_EQ(LoadList(saved, listPath()).error, QString());
    EXPECT_EQ(StateOf(saved.DownloadList[slot]), ListEntryState::Finished);
}

// ---------------------------------------------------------------------------------------------
// Existing files at the target

TEST_F(Assembly, ChosenPathReplacesALongerFileWithoutAStaleTail) {
    const QByteArray data = RandomBytes(5000);
    const int slot = addFinishedDownload(QStringLiteral("chosen.iso"), {data});
    const QString chosen = file(QStringLiteral("elsewhere.iso"));
    WritePart(chosen, RandomBytes(20000));
    record(slot).SavePath = chosen;
    record(slot).HasSavePath = FlagTrue;

    const AssemblyResult result = assemble(slot, true);

    ASSERT_TRUE(result.complete) << result.message.toStdString();
    EXPECT_EQ(result.targetPath, chosen);
    EXPECT_TRUE(ReadFile(chosen) == data);
    EXPECT_EQ(record(slot).FileName, QStringLiteral("elsewhere.iso"));
}

TEST_F(Assembly, FetchingAgainReplacesItsEarlierFileWithoutAStaleTail) {
    const QByteArray data = RandomBytes(3000);
    const int slot = addFinishedDownload(QStringLiteral("again.tar"), {data});
    WritePart(downloads(QStringLiteral("again.tar")), RandomBytes(9000));
    record(slot).Reserved3 = ReplacesEarlierFile;

    const AssemblyResult result = assemble(slot, true);

    ASSERT_TRUE(result.complete) << result.message.toStdString();
    EXPECT_EQ(result.targetPath, downloads(QStringLiteral("again.tar")));
    EXPECT_TRUE(ReadFile(result.targetPath) == data);
}

TEST_F(Assembly, ExistingFileIsLeftAloneAndTheNextNumberedNamesAreTaken) {
    const QByteArray earlier = RandomBytes(700);
    WritePart(downloads(QStringLiteral("setup.exe")), earlier);

    const QByteArray first = RandomBytes(100);
    const int one = addFinishedDownload(QStringLiteral("setup.exe"), {first});
    const AssemblyResult a = assemble(one, true);
    ASSERT_TRUE(a.complete) << a.message.toStdString();
    EXPECT_EQ(a.targetPath, downloads(QStringLiteral("setup[1].exe")));
    EXPECT_EQ(record(one).FileName, QStringLiteral("setup[1].exe"));
    EXPECT_EQ(record(one).SavePath, a.targetPath);

    // Numbers accumulate, and the earlier download's file is no more replaceable than the
    // user's own.
    const QByteArray second = RandomBytes(200);
    const int two = addFinishedDownload(QStringLiteral("setup.exe"), {second});
    const AssemblyResult b = assemble(two, true);
    ASSERT_TRUE(b.complete) << b.message.toStdString();
    EXPECT_EQ(b.targetPath, downloads(QStringLiteral("setup[1][2].exe")));

    EXPECT_TRUE(ReadFile(downloads(QStringLiteral("setup.exe"))) == earlier);
    EXPECT_TRUE(ReadFile(a.targetPath) == first);
    EXPECT_TRUE(ReadFile(b.targetPath) == second);
}

TEST_F(Assembly, ChosenPathTakesANumberedNameWhenItIsAFolder) {
    const int slot = addFinishedDownload(QStringLiteral("x"), {RandomBytes(10)});
    ASSERT_TRUE(QDir(root()).mkdir(QStringLiteral("report.pdf")));
    record(slot).SavePath = file(QStringLiteral("report.pdf"));
    record(slot).HasSavePath = FlagTrue;

    const AssemblyResult result = assemble(slot, false);

    ASSERT_TRUE(result.complete) << result.message.toStdString();
    EXPECT_EQ(result.targetPath, file(QStringLiteral("report[1].pdf")));
}

TEST_F(Assembly, AfterTenNumberedNamesTheLastIsUsedAndNeverOverwritten) {
    QStringList names{downloads(QStringLiteral("big.dat"))};
    for (int n = 1; n <= MaxNumberedNames; ++n) {
        names << NumberedName(names.first(), n);
    }
    EXPECT_EQ(FileNamePart(names.last()), QStringLiteral("big[1][2][3][4][5][6][7][8][9][10].dat"));
    for (qsizetype i = 0; i + 1 < names.size(); ++i) {
        WritePart(names[i], "taken");
    }

    const QByteArray data = RandomBytes(64);
    const int slot = addFinishedDownload(QStringLiteral("big.dat"), {data});
    const AssemblyResult last = assemble(slot, true);
    ASSERT_TRUE(last.complete) << last.message.toStdString();
    EXPECT_EQ(last.targetPath, names.last());
    EXPECT_TRUE(ReadFile(names.last()) == data);

    // Now every name is taken: the join fails and touches none of them.
    const int full = addFinishedDownload(QStringLiteral("big.dat"), {RandomBytes(64)});
    const AssemblyResult refused = assemble(full, true);
    EXPECT_FALSE(refused.complete);
    EXPECT_TRUE(refused.message.contains(names.first())) << refused.message.toStdString();
    EXPECT_TRUE(Unfinished(record(full)));
    EXPECT_TRUE(QFileInfo::exists(partFiles(full).first()));
    for (qsizetype i = 0; i + 1 < names.size(); ++i) {
        EXPECT_EQ(ReadFile(names[i]), QByteArray("taken"));
    }
    EXPECT_TRUE(ReadFile(names.last()) == data);
}

TEST(AssemblyNumberedName, GoesBeforeTheLastDotOfTheNameOnly) {
    EXPECT_EQ(NumberedName(QStringLiteral("/dl/setup.exe"), 1), QStringLiteral("/dl/setup[1].exe"));
    EXPECT_EQ(NumberedName(QStringLiteral("/dl/a.tar.gz"), 2),
              QStringLiteral("/dl/a.tar[1][2].gz"));
    EXPECT_EQ(NumberedName(QStringLiteral("/dl/README"), 1), QStringLiteral("/dl/README[1]"));
    EXPECT_EQ(NumberedName(QStringLiteral("/dl/v1.2/setup"), 1),
              QStringLiteral("/dl/v1.2/setup[1]"));
    EXPECT_EQ(NumberedName(QStringLiteral("/dl/v1.2/setup"), 2),
              QStringLiteral("/dl/v1.2/setup[1][2]"));
}

TEST(AssemblyNumberedName, LongNameIsShortenedBeforeTheNumbersNotInThem) {
    const QString longName = QString(251, u'n') + QStringLiteral(".zip");
    const QString numbered = FileNamePart(NumberedName(QStringLiteral("/dl/") + longName, 2));
    EXPECT_EQ(numbered.toUtf8().size(), MaxFileNameBytes);
    EXPECT_TRUE(numbered.endsWith(QStringLiteral("n[1][2].zip"))) << numbered.toStdString();
}

TEST(AssemblyTargetPath, FolderAndDecodedPlainNameOrTheChosenPath) {
    DownloadRecord record;
    record.FileName = QStringLiteral("my%20file.zip");
    EXPECT_EQ(TargetPath(record, QStringLiteral("/home/u/Downloads")),
              QStringLiteral("/home/u/Downloads/my file.zip"));
    EXPECT_EQ(TargetPath(record, QStringLiteral("/home/u/Downloads/")),
              QStringLiteral("/home/u/Downloads/my file.zip"));
    // No folder must not mean the root of the file system.
    EXPECT_EQ(TargetPath(record, QString()), QString());
    record.SavePath = QStringLiteral("/elsewhere/chosen name");
    record.HasSavePath = FlagTrue;
    EXPECT_EQ(TargetPath(record, QString()), QStringLiteral("/elsewhere/chosen name"));
}

// ---------------------------------------------------------------------------------------------
// Failures leave the download incomplete

TEST_F(Assembly, MissingPartFileLeavesTheDownloadIncompleteAndThePartsInPlace) {
    const int slot = addFinishedDownload(QStringLiteral("broken.bin"),
                                         {RandomBytes(100), RandomBytes(100), RandomBytes(100)});
    const QStringList temps = partFiles(slot);
    ASSERT_TRUE(QFile::remove(temps[1]));

    const AssemblyResult result = assemble(slot, true);

    EXPECT_FALSE(result.complete);
    EXPECT_TRUE(result.message.contains(temps[1])) << result.message.toStdString();
    EXPECT_TRUE(result.message.contains(QStringLiteral("No such file or directory")))
        << result.message.toStdString();
    EXPECT_TRUE(QFileInfo::exists(temps[0]));
    EXPECT_TRUE(QFileInfo::exists(temps[2]));
    EXPECT_TRUE(Unfinished(record(slot)));
    EXPECT_NE(record(slot).Percent, 100.0f);
    EXPECT_EQ(record(slot).FileName, QStringLiteral("broken.bin"));
    EXPECT_FALSE(QFileInfo::exists(downloads(QStringLiteral("broken.bin"))));
    EXPECT_TRUE(actions.calls.isEmpty());
    EXPECT_EQ(files.openCount(), 0u);
}

TEST_F(Assembly, MissingPartFileCostsTheFileAtAChosenPathNothing) {
    const int slot = addFinishedDownload(QStringLiteral("x"), {RandomBytes(10), RandomBytes(10)});
    const QString chosen = file(QStringLiteral("keep-me.doc"));
    const QByteArray old = RandomBytes(4000);
    WritePart(chosen, old);
    record(slot).SavePath = chosen;
    record(slot).HasSavePath = FlagTrue;
    ASSERT_TRUE(QFile::remove(partFiles(slot)[1]));

    EXPECT_FALSE(assemble(slot, true).complete);
    EXPECT_TRUE(ReadFile(chosen) == old);
}

TEST_F(Assembly, ShortPartFileLeavesTheDownloadIncompleteAndSaysSo) {
    const int slot =
        addFinishedDownload(QStringLiteral("short.bin"), {RandomBytes(MiB + 5), RandomBytes(300)});
    record(slot).Segments.at(2)->Length = Currency::fromBytes(400);

    const AssemblyResult result = assemble(slot, true);

    EXPECT_FALSE(result.complete);
    EXPECT_TRUE(result.message.contains(partFiles(slot)[1])) << result.message.toStdString();
    EXPECT_TRUE(result.message.contains(QStringLiteral("300"))) << result.message.toStdString();
    EXPECT_TRUE(QFileInfo::exists(partFiles(slot)[0]));
    EXPECT_TRUE(Unfinished(record(slot)));
    EXPECT_FALSE(QFileInfo::exists(downloads(QStringLiteral("short.bin"))));
}

TEST_F(Assembly, FirstPartBecomesTheTargetAndComesBackWhenALaterPartFails) {
    const QByteArray first = RandomBytes(3 * MiB + 7);
    const int slot = addFinishedDownload(QStringLiteral("two.bin"), {first, RandomBytes(100)});
    // The second part passes the size check but cannot be read: a folder in its place.
    const QString second = partFiles(slot)[1];
    ASSERT_TRUE(QFile::remove(second));
    ASSERT_TRUE(QDir().mkpath(second));

    const AssemblyResult failed = assemble(slot, true);
    EXPECT_FALSE(failed.complete);
    EXPECT_EQ(ReadFile(partFiles(slot)[0]), first);  // back in its place, whole
    EXPECT_FALSE(QFileInfo::exists(downloads(QStringLiteral("two.bin"))));

    ASSERT_TRUE(QDir().rmdir(second));
    const QByteArray rest = RandomBytes(100);
    WritePart(second, rest);
    const AssemblyResult built = assemble(slot, true);
    ASSERT_TRUE(built.complete) << built.message.toStdString();
    EXPECT_EQ(ReadFile(downloads(QStringLiteral("two.bin"))), first + rest);
    EXPECT_FALSE(QFileInfo::exists(partFiles(slot)[0]));
    EXPECT_FALSE(QFileInfo::exists(second));
}

TEST_F(Assembly, FullDiskIsReportedAsSuch) {
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable()) {
        GTEST_SKIP() << "no /dev/full";
    }
    const int slot = addFinishedDownload(QStringLiteral("nospace.bin"), {RandomBytes(5000)});
    record(slot).SavePath = QStringLiteral("/dev/full");
    record(slot).HasSavePath = FlagTrue;

    const AssemblyResult result = assemble(slot, true);

    EXPECT_FALSE(result.complete);
    EXPECT_TRUE(result.message.contains(QStringLiteral("disk full")))
        << result.message.toStdString();
    EXPECT_TRUE(QFileInfo::exists(partFiles(slot)[0]));
    EXPECT_TRUE(Unfinished(record(slot)));
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/dev/full")));
}

TEST_F(Assembly, SlotOutsideTheListIsReportedOnceAndNothingIsTouched) {
    const int slot = addFinishedDownload(QStringLiteral("only.bin"), {RandomBytes(10)});

    const AssemblyResult result = assemble(slot + 1, true);

    EXPECT_FALSE(result.complete);
    EXPECT_FALSE(result.message.isEmpty());
    EXPECT_EQ(list.DownloadCount, slot);
    EXPECT_TRUE(QFileInfo::exists(partFiles(slot)[0]));
}

// ---------------------------------------------------------------------------------------------
// Plain file names

TEST(AssemblyPlainFileName, NeverLeavesTheFolder) {
    EXPECT_EQ(PlainFileName(QStringLiteral("../../.bashrc")), QStringLiteral("_.._.bashrc"));
    EXPECT_EQ(PlainFileName(QStringLiteral("/etc/passwd")), QStringLiteral("_etc_passwd"));
    EXPECT_EQ(PlainFileName(QStringLiteral("a\\..\\b")), QStringLiteral("a_.._b"));
    EXPECT_EQ(PlainFileName(QStringLiteral(".")), QStringLiteral("download"));
    EXPECT_EQ(PlainFileName(QStringLiteral("..")), QStringLiteral("download"));
    EXPECT_EQ(PlainFileName(QString()), QStringLiteral("download"));
    EXPECT_EQ(PlainFileName(QStringLiteral(".profile")), QStringLiteral("profile"));
    EXPECT_EQ(PlainFileName(QStringLiteral("report v2.pdf")), QStringLiteral("report v2.pdf"));
}

TEST(AssemblyPlainFileName, ControlAndDirectionCharactersBecomeUnderscores) {
    EXPECT_EQ(PlainFileName(QStringLiteral("a\nb\tc\x01") + QChar(0) + QChar(0x7f) + QChar(0x9b)),
              QStringLiteral("a_b_c____"));
    EXPECT_EQ(PlainFileName(QStringLiteral("invoice") + QChar(0x202e) + QStringLiteral("fdp.exe")),
              QStringLiteral("invoice_fdp.exe"));
    EXPECT_EQ(PlainFileName(QStringLiteral("Grüße €.txt")), QStringLiteral("Grüße €.txt"));
}

TEST(AssemblyPlainFileName, LongNameIsCutAtACharacterBoundaryKeepingItsExtension) {
    // 150 two-byte characters: 300 bytes; the cut may not split one.
    const QString name = QString(150, QChar(0xe9)) + QStringLiteral(".txt");
    const QString plain = PlainFileName(name);
    const QByteArray utf8 = plain.toUtf8();
    EXPECT_LE(utf8.size(), MaxFileNameBytes);
    EXPECT_GE(utf8.size(), MaxFileNameBytes - 1);
    EXPECT_EQ(QString::fromUtf8(utf8), plain);
    EXPECT_FALSE(plain.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(plain.endsWith(QStringLiteral(".txt")));

    // Four-byte characters (surrogate pairs) are never split either.
    QString emoji;
    for (int i = 0; i < 80; ++i) {
        emoji += QString::fromUcs4(U"\U0001F600", 1);
    }
    const QString cut = PlainFileName(emoji);
    EXPECT_EQ(cut.toUtf8().size(), 252);
    EXPECT_FALSE(cut.back().isHighSurrogate());

    // A 300-byte "extension" is no extension: the end is cut instead.
    const QString oneDot = QStringLiteral("a.") + QString(298, u'x');
    EXPECT_EQ(PlainFileName(oneDot), oneDot.left(MaxFileNameBytes));
}

// ---------------------------------------------------------------------------------------------
// Anti-virus command

TEST(AssemblyAntivirusArguments, PathIsOneArgumentWherePlaceholderStandsOrLast) {
    const QString target = QStringLiteral("/d/my file.zip");
    EXPECT_EQ(AntivirusArguments(QStringLiteral("scan /q %F"), target),
              (QStringList{"scan", "/q", "/d/my file.zip"}));
    EXPECT_EQ(AntivirusArguments(QStringLiteral("scan"), target),
              (QStringList{"scan", "/d/my file.zip"}));
    EXPECT_EQ(AntivirusArguments(QStringLiteral("scan --file=%F --log=%F.log -x"), target),
              (QStringList{"scan", "--file=/d/my file.zip", "--log=/d/my file.zip.log", "-x"}));
    EXPECT_EQ(AntivirusArguments(QStringLiteral("\"/opt/virus scan/scan\" -r"), target),
              (QStringList{"/opt/virus scan/scan", "-r", "/d/my file.zip"}));
    // Lower-case is not the placeholder.
    EXPECT_EQ(AntivirusArguments(QStringLiteral("scan %f"), target),
              (QStringList{"scan", "%f", "/d/my file.zip"}));
    EXPECT_TRUE(AntivirusArguments(QStringLiteral("   "), target).isEmpty());
}

TEST(AssemblyAntivirusArguments, FileNameCannotInjectACommand) {
    const QString target = QStringLiteral("/d/x; rm -rf ~");
    EXPECT_EQ(AntivirusArguments(QStringLiteral("scan %F"), target),
              (QStringList{"scan", "/d/x; rm -rf ~"}));
    EXPECT_EQ(AntivirusArguments(QStringLiteral("scan"), QStringLiteral("/d/$(reboot) \"q\".zip")),
              (QStringList{"scan", "/d/$(reboot) \"q\".zip"}));
}

TEST(AssemblyAntivirusArguments, AChosenProgramIsReadBackAsOneWord) {
    // Programs as a file dialog returns them, blanks and quotes included.
    for (const char* program : {"/usr/bin/clamscan", "/opt/Anti Virus/scan", "/opt/a\tb/scan",
                                "/opt/\"quoted\" name/scan", "/opt/x\"/scan", "/o p/%F"}) {
        const QString word = CommandWord(QString::fromUtf8(program));
        const QStringList words = AntivirusArguments(word, QStringLiteral("/d/f.zip"));
        ASSERT_EQ(words.size(), 2) << program << " as " << word.toStdString();
        EXPECT_EQ(words[0], QString::fromUtf8(program));
    }
    EXPECT_EQ(CommandWord(QStringLiteral("/usr/bin/clamscan")),
              QStringLiteral("/usr/bin/clamscan"));
    EXPECT_EQ(CommandWord(QStringLiteral("/opt/Anti Virus/scan")),
              QStringLiteral("\"/opt/Anti Virus/scan\""));
}

TEST_F(Assembly, AntivirusScansTheFinishedFileOnlyWhenSwitchedOn) {
    settings.AntiVirusCommand = QStringLiteral("clamscan --no-summary %F");
    const int off = addFinishedDownload(QStringLiteral("first.zip"), {RandomBytes(10)});
    ASSERT_TRUE(assemble(off, true).complete);
    EXPECT_TRUE(actions.started.empty());

    settings.UseAntiVirus = FlagTrue;
    const int on = addFinishedDownload(QStringLiteral("x; rm -rf ~"), {RandomBytes(10)});
    const AssemblyResult result = assemble(on, true);
    ASSERT_TRUE(result.complete) << result.message.toStdString();
    ASSERT_EQ(actions.started.size(), 1u);
    EXPECT_EQ(actions.started[0],
              (QStringList{"clamscan", "--no-summary", downloads(QStringLiteral("x; rm -rf ~"))}));
}

TEST_F(Assembly, FailedJoinRunsNeitherScanNorEndOfListActions) {
    settings.UseAntiVirus = FlagTrue;
    settings.AntiVirusCommand = QStringLiteral("scan");
    settings.AutoCloseInternet = FlagTrue;
    settings.AutoShutDownComputer = FlagTrue;
    const int slot = addFinishedDownload(QStringLiteral("gone.bin"), {RandomBytes(10)});
    ASSERT_TRUE(QFile::remove(partFiles(slot)[0]));

    EXPECT_FALSE(assemble(slot, true).complete);
    EXPECT_TRUE(actions.calls.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// End-of-list actions

TEST_F(Assembly, EndOfListActionsWaitForEveryPendingDownload) {
    settings.AutoCloseInternet = FlagTrue;
    settings.AutoShutDownComputer = FlagTrue;
    const int finished = addFinishedDownload(QStringLiteral("done.bin"), {});
    record(finished).Completed = FlagTrue;
    record(finished).Running = FlagFalse;
    const int queued = addFinishedDownload(QStringLiteral("next.bin"), {});
    record(queued).Running = FlagFalse;
    record(queued).Queued = 1;

    RunCompletionActions(ctx);
    EXPECT_TRUE(actions.calls.isEmpty());

    // A removed entry or one that is merely paused is not pending.
    record(queued).Active = FlagFalse;
    const int paused = addFinishedDownload(QStringLiteral("paused.bin"), {});
    record(paused).Running = FlagFalse;
    record(paused).Paused = FlagTrue;
    RunCompletionActions(ctx);
    EXPECT_EQ(actions.calls, (QStringList{"hangUp", "powerOff", "endProgram"}));
}

TEST_F(Assembly, EndOfListActionsFollowTheOptions) {
    const int slot = addFinishedDownload(QStringLiteral("done.bin"), {});
    record(slot).Completed = FlagTrue;

    RunCompletionActions(ctx);
    EXPECT_TRUE(actions.calls.isEmpty());

    settings.AutoCloseInternet = FlagTrue;
    RunCompletionActions(ctx);
    EXPECT_EQ(actions.calls, QStringList{"hangUp"});

    actions.calls.clear();
    settings.AutoCloseInternet = FlagFalse;
    settings.AutoShutDownComputer = FlagTrue;
    RunCompletionActions(ctx);
    EXPECT_EQ(actions.calls, (QStringList{"powerOff", "endProgram"}));
}

TEST_F(Assembly, LastJoinScansThenHangsUpAndPowersOff) {
    settings.UseAntiVirus = FlagTrue;
    settings.AntiVirusCommand = QStringLiteral("scan");
    settings.AutoCloseInternet = FlagTrue;
    settings.AutoShutDownComputer = FlagTrue;
    const int slot = addFinishedDownload(QStringLiteral("last.bin"), {RandomBytes(10)});

    ASSERT_TRUE(assemble(slot, true).complete);

    EXPECT_EQ(actions.calls, (QStringList{"start", "hangUp", "powerOff", "endProgram"}));
}

TEST_F(Assembly, AProgramUpdateGoesToTheInstallInsteadOfTheEndOfListActions) {
    settings.AutoShutDownComputer = FlagTrue;
    std::vector<std::pair<int, QString>> installs;
    ctx.installUpdate = [&](int slot, const QString& path) { installs.emplace_back(slot, path); };
    const struct {
        const char* name;
        std::int16_t isUpdate;
        bool programInstalls;
        bool installed;
    } cases[] = {
        {"update", 1, true, true},
        {"ordinary file", 0, true, false},
        {"update where nothing installs (brenloft-get)", 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        installs.clear();
        actions.calls.clear();
        if (!c.programInstalls) {
            ctx.installUpdate = nullptr;
        }
        const int slot = addFinishedDownload(QStringLiteral("kestor15.zip"), {RandomBytes(100)});
        record(slot).IsUpdate = c.isUpdate;
        const AssemblyResult result = assemble(slot, true);
        ASSERT_TRUE(result.complete) << result.message.toStdString();
        // After the join's report, from the event loop.
        QCoreApplication::processEvents();
        if (c.installed) {
            ASSERT_EQ(installs.size(), 1u);
            EXPECT_EQ(installs[0].first, slot);
            EXPECT_EQ(installs[0].second, result.targetPath);
            EXPECT_EQ(actions.calls, QStringList{});
        } else {
            EXPECT_TRUE(installs.empty());
            EXPECT_EQ(actions.calls, (QStringList{"powerOff", "endProgram"}));
        }
    }
}
