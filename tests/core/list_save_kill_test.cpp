#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <chrono>
#include <string>
#include <thread>

#include "core/download_list/download_list.h"
#include "core/download_list/list_additions.h"
#include "core/download_list/list_file_format.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

// A program killed while it saves its list must leave the list of a completed save: the one it
// last finished or the one it was writing, never a mix or a torn file. The helper saves in a
// loop and reports each save it finished; the test kills it at random moments.

namespace {

constexpr quint32 Seed = 20240611;
constexpr int Kills = 20;
// Long enough for several saves, so kills land in every step of one (encode, write, sync,
// rename), short enough that the list stays small and the test quick.
constexpr int MaxDelayMicroseconds = 30000;
constexpr int DeadlineMs = 20000;

// As the helper fills slot `slot`.
QString UrlOf(int slot) {
    return QStringLiteral("http://127.0.0.1/pub/file%1.bin").arg(slot);
}

int ModeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// The count on the last whole line the helper printed; 0 when none.
int LastReported(const QByteArray& output) {
    const qsizetype end = output.lastIndexOf('\n');
    if (end < 0) {
        return 0;
    }
    const qsizetype start = output.lastIndexOf('\n', end - 1) + 1;
    return output.mid(start, end - start).toInt();
}

// The list loads as the program's start loads it, whole, with `least` to `most` entries, each
// the one the helper saved in its slot. `entries` gets the count.
::testing::AssertionResult LoadsWhole(const QString& path, int least, int most, int* entries) {
    DownloadListState list;
    const ListLoadResult result = LoadList(list, path);
    if (!result.recognised || !result.complete || !result.error.isEmpty()) {
        return ::testing::AssertionFailure()
               << "the list does not load whole (" << result.error.toStdString() << "), "
               << QFile(path).size() << " bytes";
    }
    *entries = list.DownloadCount;
    if (list.DownloadCount < least || list.DownloadCount > most) {
        return ::testing::AssertionFailure() << "the list holds " << list.DownloadCount
                                             << " entries, not " << least << " to " << most;
    }
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        if (list.DownloadList[slot].Url != UrlOf(slot)) {
            return ::testing::AssertionFailure()
                   << "slot " << slot << " holds " << list.DownloadList[slot].Url.toStdString();
        }
    }
    return ::testing::AssertionSuccess();
}

void AddEntry(DownloadListState& list) {
    const int slot = ChooseFreeSlot(list);
    ASSERT_NE(slot, 0);
    FillNewRecord(list.DownloadList[slot], ParseUrl(UrlOf(slot)), UrlOf(slot), 0, {});
}

}  // namespace

TEST(ListSaveKill, EveryKillLeavesTheLastReportedSaveOrTheNext) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    // A list made by a save, not the empty file a first start creates: every state the file
    // is ever in then comes from a save.
    ASSERT_EQ(SaveList(DownloadListState{}, path), QString());

    QRandomGenerator random(Seed);
    int entries = 0;  // what the file held after the last kill
    int leftovers = 0;
    for (int kill = 1; kill <= Kills; ++kill) {
        SCOPED_TRACE(::testing::Message() << "seed " << Seed << ", kill " << kill << " of " << Kills
                                          << ", " << entries << " entries before");
        const int delay = int(random.bounded(MaxDelayMicroseconds + 1));

        QProcess helper;
        helper.start(QStringLiteral(LIST_SAVE_LOOP_EXE), {path});
        ASSERT_TRUE(helper.waitForStarted(DeadlineMs)) << helper.errorString().toStdString();
        // From its first report on it is saving: the list it loaded (left by the last kill,
        // maybe beside a half-written "<list>.new") did not stop it.
        const QDeadlineTimer deadline(DeadlineMs);
        while (!helper.canReadLine() && helper.state() == QProcess::Running &&
               !deadline.hasExpired()) {
            helper.waitForReadyRead(100);
        }
        ASSERT_TRUE(helper.canReadLine())
            << "no save reported: " << helper.readAllStandardError().toStdString();
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        ::kill(pid_t(helper.processId()), SIGKILL);
        ASSERT_TRUE(helper.waitForFinished(DeadlineMs));
        // A sanitizer report would end it too, by abort, and say why on its error output.
        const std::string errors = helper.readAllStandardError().toStdString();
        ASSERT_EQ(helper.exitStatus(), QProcess::CrashExit) << "it ended by itself: " << errors;
        ASSERT_EQ(errors, "");

        const QByteArray output = helper.readAllStandardOutput();
        EXPECT_EQ(output.left(output.indexOf('\n')).toInt(), entries + 1)
            << "the first save did not continue the list the last kill left";
        const int reported = LastReported(output);
        leftovers += QFile::exists(path + QStringLiteral(".new")) ? 1 : 0;
        ASSERT_TRUE(LoadsWhole(path, reported, reported + 1, &entries))
            << "after " << delay << " us, the helper reported " << reported;
        EXPECT_EQ(ModeOf(path), 0600);
    }
    RecordProperty("KillsDuringASave", leftovers);
    RecordProperty("EntriesSaved", entries);
}

TEST(ListSaveKill, LeftoverNewFileStopsNeitherLoadNorSave) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("Brenloft.dat"));
    DownloadListState list;
    for (int i = 0; i < 3; ++i) {
        AddEntry(list);
    }
    ASSERT_EQ(SaveList(list, path), QString());

    // What a kill in the middle of a save leaves beside the list: the start of another one,
    // longer than the next save (removed entries lose their texts at a load), and with a mode
    // that is not the list's, as after a copy.
    const QString leftover = path + QStringLiteral(".new");
    DownloadListState longer = list;
    for (int i = 0; i < 20; ++i) {
        AddEntry(longer);
    }
    const QByteArray longerBytes = EncodeListFile(longer);
    ASSERT_TRUE(WriteFile(leftover, longerBytes.left(longerBytes.size() / 2)));
    ASSERT_TRUE(QFile::setPermissions(
        leftover, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    AddEntry(list);
    ASSERT_GT(longerBytes.size() / 2, EncodeListFile(list).size());

    int entries = 0;
    EXPECT_TRUE(LoadsWhole(path, 3, 3, &entries));
    ASSERT_EQ(SaveList(list, path), QString());
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_EQ(ModeOf(path), 0600);
    const QByteArray written = ReadFile(path);
    EXPECT_TRUE(written == EncodeListFile(list))
        << written.size() << " bytes, not the " << EncodeListFile(list).size()
        << " saved: bytes of the leftover survived";
    EXPECT_TRUE(LoadsWhole(path, 4, 4, &entries));
}
