// What the two lists show, and when they redraw.

#include <QCoreApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolBar>

#include "core/text/format.h"
#include "engine/session/download_session.h"
#include "tests/ui/main_window/main_window_fixture.h"
#include "ui/language/apply_language.h"

namespace main_window_test {
namespace {

using U = UnfinishedListModel;
using F = FinishedListModel;

TEST_F(MainWindowTest, EachStateShowsItsIconAndText) {
    const int running = add(QStringLiteral("running.iso"), Kind::Running);
    const int paused = add(QStringLiteral("paused.iso"), Kind::Paused);
    const int queued = add(QStringLiteral("queued.iso"), Kind::Queued);
    const int failed = add(QStringLiteral("failed.iso"), Kind::Failed);
    const int scheduled = add(QStringLiteral("scheduled.iso"), Kind::Scheduled);
    const int finished = add(QStringLiteral("finished.iso"), Kind::Finished);
    const int removed = add(QStringLiteral("removed.iso"), Kind::Paused);
    record(removed).Active = FlagFalse;
    const int nameless = add(QStringLiteral("nameless.iso"), Kind::Paused);
    record(nameless).FileName.clear();
    record(paused).Priority = 2;
    record(queued).Priority = 0;
    record(failed).Percent = 12.5f;

    Kestor& w = open();
    const QTreeView* v1 = w.listView1();
    EXPECT_EQ(Keys(v1),
              (QStringList{key(running), key(paused), key(queued), key(failed), key(scheduled)}));

    EXPECT_EQ(Cell(v1, key(running), 0, U::IconKeyRole), QStringLiteral("stop"));
    EXPECT_EQ(Cell(v1, key(running), U::State), QStringLiteral(" (Downloading: 40.0%)"));
    EXPECT_EQ(Cell(v1, key(paused), 0, U::IconKeyRole), QStringLiteral("down"));
    EXPECT_EQ(Cell(v1, key(paused), U::State), QStringLiteral(" (Paused: 40.0%)"));
    EXPECT_EQ(Cell(v1, key(queued), 0, U::IconKeyRole), QStringLiteral("down"));
    EXPECT_EQ(Cell(v1, key(queued), U::State), QStringLiteral("Queued"));
    EXPECT_EQ(Cell(v1, key(failed), 0, U::IconKeyRole), QStringLiteral("wrong"));
    // A failure from before this run has no reason left to tell, but says it failed.
    EXPECT_EQ(Cell(v1, key(failed), U::State), QStringLiteral(" (Failed: 12.5%)"));
    EXPECT_EQ(Cell(v1, key(scheduled), 0, U::IconKeyRole), QStringLiteral("shed"));
    EXPECT_EQ(Cell(v1, key(scheduled), U::State), QStringLiteral("Scheduled"));

    // Only the percentages are drawn as bars.
    EXPECT_TRUE(
        v1->model()->index(ViewRow(v1, key(paused)), U::State).data(U::PercentRole).isValid());
    EXPECT_FALSE(
        v1->model()->index(ViewRow(v1, key(queued)), U::State).data(U::PercentRole).isValid());

    EXPECT_EQ(Cell(v1, key(running), U::Name), QStringLiteral("running.iso"));
    EXPECT_EQ(Cell(v1, key(running), U::Host), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(Cell(v1, key(running), U::Size), FormatSize(Currency::fromBytes(200), texts));
    EXPECT_EQ(Cell(v1, key(paused), U::Priority), QStringLiteral("High"));
    EXPECT_EQ(Cell(v1, key(running), U::Priority), QStringLiteral("Middle"));
    EXPECT_EQ(Cell(v1, key(queued), U::Priority), QStringLiteral("Low"));
    EXPECT_FALSE(Cell(v1, key(running), U::Added).isEmpty());

    EXPECT_EQ(Keys(w.listView2()), QStringList{key(finished)});
    EXPECT_EQ(Cell(w.listView2(), key(finished), F::Url), DecodeUrl(key(finished)));
}

TEST_F(MainWindowTest, FileNamesAndAddressesAreShownDecoded) {
    const int paused = add(QStringLiteral("my%20file.zip"), Kind::Paused);
    const int finished = add(QStringLiteral("done%20file.zip"), Kind::Finished);
    Kestor& w = open();
    EXPECT_EQ(Cell(w.listView1(), key(paused), U::Name), QStringLiteral("my file.zip"));
    EXPECT_EQ(Cell(w.listView2(), key(finished), F::Name), QStringLiteral("done file.zip"));
    EXPECT_TRUE(
        Cell(w.listView2(), key(finished), F::Url).endsWith(QStringLiteral("/done file.zip")));
}

TEST_F(MainWindowTest, AFinishedFileThatIsGoneShowsNotFound) {
    const int there = add(QStringLiteral("there.bin"), Kind::Finished);
    const int gone = add(QStringLiteral("gone.bin"), Kind::FinishedMissing);
    const int deletedLater = add(QStringLiteral("later.bin"), Kind::Finished);
    ASSERT_TRUE(QFile::remove(record(deletedLater).SavePath));
    Kestor& w = open();
    const QTreeView* v2 = w.listView2();
    EXPECT_EQ(Cell(v2, key(there), 0, F::IconKeyRole), key(there));
    EXPECT_EQ(Cell(v2, key(gone), 0, F::IconKeyRole), QStringLiteral("notfound"));
    EXPECT_EQ(Cell(v2, key(deletedLater), 0, F::IconKeyRole), QStringLiteral("notfound"));

    // A file put back is seen at the next rebuild.
    ASSERT_TRUE(WriteFile(record(gone).SavePath, "x"));
    w.RefreshDownList();
    EXPECT_EQ(Cell(v2, key(gone), 0, F::IconKeyRole), key(gone));
}

TEST_F(MainWindowTest, UnforcedRefreshesWithinHalfASecondWaitForItsEnd) {
    const int paused = add(QStringLiteral("a.bin"), Kind::Paused);
    Kestor& w = open();
    QSignalSpy resets(&w.unfinishedRows(), &QAbstractItemModel::modelReset);

    now += 1000;
    w.RefreshListView(0, false);
    EXPECT_EQ(resets.count(), 1);
    now += 200;
    w.RefreshListView(0, false);  // 200 ms after the last one
    EXPECT_EQ(resets.count(), 1);
    w.RefreshListView(0, true);  // forced: always
    EXPECT_EQ(resets.count(), 2);
    now += 499;
    w.RefreshListView(0, false);  // the difference must exceed 499 ms
    EXPECT_EQ(resets.count(), 2);
    now += 1;
    w.RefreshListView(0, false);
    EXPECT_EQ(resets.count(), 3);

    // A skipped one-row update leaves the row as it was drawn.
    QSignalSpy rows(&w.unfinishedRows(), &QAbstractItemModel::dataChanged);
    record(paused).Percent = 80;
    now += 100;
    w.RefreshListView(paused, false);
    EXPECT_EQ(rows.count(), 0);
    EXPECT_EQ(Cell(w.listView1(), key(paused), U::State), QStringLiteral(" (Paused: 40.0%)"));
    // ... until its half second is over: then it is drawn, not lost.
    EXPECT_TRUE(WaitFor([&] {
        return Cell(w.listView1(), key(paused), U::State) == QStringLiteral(" (Paused: 80.0%)");
    }));
    EXPECT_EQ(resets.count(), 3) << "one row, not the whole list";

    // The tick wraps after 49 days; a refresh just after the wrap still counts its distance.
    now = std::numeric_limits<std::int32_t>::max() - 100;
    w.RefreshListView(0, true);
    now = std::numeric_limits<std::int32_t>::min() + 100;  // 201 ms later
    w.RefreshListView(0, false);
    EXPECT_EQ(resets.count(), 4);
    now += 400;
    w.RefreshListView(0, false);
    EXPECT_EQ(resets.count(), 5);
}

TEST_F(MainWindowTest, OneRowUpdateShowsOnlyTheRunningOrPausedForm) {
    std::vector<int> entries;
    for (int i = 0; i < 50; ++i) {
        entries.push_back(add(QStringLiteral("file%1.bin").arg(i), Kind::Queued));
    }
    const int slot = entries[37];
    Kestor& w = open();
    QSignalSpy resets(&w.unfinishedRows(), &QAbstractItemModel::modelReset);
    QSignalSpy rows(&w.unfinishedRows(), &QAbstractItemModel::dataChanged);

    record(slot).Running = FlagTrue;
    record(slot).Percent = 12.5f;
    record(slot).RemainingSeconds = 65;
    now += 1000;
    w.RefreshListView(slot, false);
    ASSERT_EQ(rows.count(), 1);
    EXPECT_EQ(resets.count(), 0);
    // Only that row is redrawn.
    const auto topLeft = rows.at(0).at(0).value<QModelIndex>();
    const auto bottomRight = rows.at(0).at(1).value<QModelIndex>();
    EXPECT_EQ(topLeft.row(), w.unfinishedRows().rowOf(key(slot)));
    EXPECT_EQ(bottomRight.row(), topLeft.row());
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::State),
              QStringLiteral(" (") + texts.text(301) + QStringLiteral(" 12.5%)"));
    EXPECT_EQ(Cell(w.listView1(), key(slot), 0, U::IconKeyRole), QStringLiteral("stop"));
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::TimeLeft), QStringLiteral("01:05"));

    // Paused again while still marked queued: the one-row form never says "Queued".
    record(slot).Running = FlagFalse;
    now += 1000;
    w.RefreshListView(slot, false);
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::State), QStringLiteral(" (Paused: 12.5%)"));
    EXPECT_EQ(Cell(w.listView1(), key(slot), 0, U::IconKeyRole), QStringLiteral("down"));

    // The full refresh tells the queued state again.
    w.RefreshListView(0, true);
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::State), QStringLiteral("Queued"));

    // Finished while its row stands: the state says so until the next full refresh.
    record(slot).Completed = FlagTrue;
    now += 1000;
    w.RefreshListView(slot, false);
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::State), QStringLiteral("Finished"));
}

TEST_F(MainWindowTest, OneRowUpdateOfAnEntryWithoutARowRebuildsTheList) {
    add(QStringLiteral("a.bin"), Kind::Paused);
    Kestor& w = open();
    const int later = add(QStringLiteral("b.bin"), Kind::Paused);
    QSignalSpy resets(&w.unfinishedRows(), &QAbstractItemModel::modelReset);
    now += 1000;
    w.RefreshListView(later, false);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_GE(ViewRow(w.listView1(), key(later)), 0);

    // An entry without a file name has no line and asks for nothing.
    record(later).FileName.clear();
    now += 1000;
    w.RefreshListView(later, false);
    EXPECT_EQ(resets.count(), 1);
}

// A pause from the download window, right after a progress refresh, reaches the list at once:
// no percentage still "Downloading" with a time left. The status line's speed counts only
// running downloads, each at the rate its window shows.
TEST_F(MainWindowTest, APauseFromTheWindowIsDrawnAtOnce) {
    const int slot = add(QStringLiteral("run.bin"), Kind::Running);
    Kestor& w = open();
    DownloadRecord& r = record(slot);
    r.BytesDone = Currency::fromBytes(3'200'000);
    r.ElapsedSeconds = 2;
    r.RemainingSeconds = 65;
    EXPECT_EQ(queue->runningRates(), 1'600'000);
    now += 100;
    emit queue->entryChanged(slot);  // progress, within the throttle's half second
    queue->session(slot)->PauseDownload();
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::State), QStringLiteral(" (Paused: 40.0%)"));
    EXPECT_EQ(Cell(w.listView1(), key(slot), U::TimeLeft), QString());
    EXPECT_EQ(queue->runningRates(), 0);
}

TEST_F(MainWindowTest, TheQueueDrivesTheLists) {
    const int paused = add(QStringLiteral("a.bin"), Kind::Paused);
    Kestor& w = open();
    QSignalSpy rows(&w.unfinishedRows(), &QAbstractItemModel::dataChanged);
    record(paused).Percent = 55;
    now += 1000;
    emit queue->entryChanged(paused);
    EXPECT_EQ(rows.count(), 1);
    EXPECT_EQ(Cell(w.listView1(), key(paused), U::State), QStringLiteral(" (Paused: 55.0%)"));

    // Entries finished: both lists are rebuilt once the queue's turn is over, whatever the
    // throttle says.
    record(paused).Completed = FlagTrue;
    record(paused).SavePath = file(QStringLiteral("downloads/a.bin"));
    QSignalSpy resets(&w.unfinishedRows(), &QAbstractItemModel::modelReset);
    emit queue->listChanged();
    emit queue->listChanged();
    QCoreApplication::processEvents();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_TRUE(Keys(w.listView1()).isEmpty());
    EXPECT_EQ(Keys(w.listView2()), QStringList{key(paused)});
}

TEST_F(MainWindowTest, SortingGoesByValueAndCommandsStillFindTheirEntry) {
    const int big = add(QStringLiteral("big.bin"), Kind::Paused);
    const int small = add(QStringLiteral("small.bin"), Kind::Paused);
    const int middle = add(QStringLiteral("middle.bin"), Kind::Paused);
    record(big).FileSize = Currency::fromBytes(5'000'000);  // "4.76 MB"
    record(small).FileSize = Currency::fromBytes(999);      // "999 bytes"
    record(middle).FileSize = Currency::fromBytes(20'000);  // "19.5 KB"
    Kestor& w = open();
    QTreeView* v1 = w.listView1();
    v1->sortByColumn(U::Size, Qt::AscendingOrder);
    EXPECT_EQ(Keys(v1), (QStringList{key(small), key(middle), key(big)}));

    // Rebuilt, it stays sorted; the selection follows its entry.
    Select(v1, key(middle));
    w.RefreshListView(0, true);
    EXPECT_EQ(Keys(v1), (QStringList{key(small), key(middle), key(big)}));
    const QModelIndexList selected = v1->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().data(U::KeyRole).toString(), key(middle));

    // A command acts on the selected entry, not on the row at that place in the list.
    trigger("PrioHigh");
    EXPECT_EQ(record(middle).Priority, 2);
    EXPECT_EQ(record(small).Priority, 1);
    EXPECT_EQ(record(big).Priority, 1);

    // Back to the list's own order.
    v1->sortByColumn(-1, Qt::AscendingOrder);
    EXPECT_EQ(Keys(v1), (QStringList{key(big), key(small), key(middle)}));
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesAndTexts) {
    Kestor& w = open();
    EXPECT_EQ(w.objectName(), QStringLiteral("Kestor"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Brenloft "));
    ApplyLanguage(&w, texts);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Brenloft "));
    for (int i = 0; i < Kestor::CommandCount; ++i) {
        auto* button = w.findChild<QPushButton*>(QStringLiteral("Command1_%1").arg(i));
        ASSERT_NE(button, nullptr) << i;
        EXPECT_EQ(button->property("index").toInt(), i);
        EXPECT_EQ(button->text(), texts.text(100 + i));
    }
    // Each toolbar button's tooltip says what the button does.
    auto* toolbar = w.findChild<QToolBar*>(QStringLiteral("Toolbar1"));
    ASSERT_NE(toolbar, nullptr);
    const QList<std::pair<const char*, int>> tips = {
        {"AddURL", 160},        {"RemoveURL", 161},       {"ResetList", 162},
        {"Quit", 163},          {"ResumeDownloads", 164}, {"PauseAll", 165},
        {"PauseDownload", 166}, {"ResumeDownload", 168},  {"Browser", 169},
        {"Options", 167}};
    QStringList keys;
    for (QAction* a : toolbar->actions()) {
        if (!a->isSeparator()) {
            keys << a->objectName();
        }
    }
    EXPECT_EQ(keys,
              (QStringList{"AddURL", "RemoveURL", "ResetList", "Quit", "ResumeDownloads",
                           "PauseAll", "PauseDownload", "ResumeDownload", "Browser", "Options"}));
    for (const auto& [name, tip] : tips) {
        QAction* a = w.findChild<QAction*>(QLatin1String(name));
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->toolTip(), texts.text(tip)) << name;
    }
    for (const char* name :
         {"mAddurl",    "mDeleteurl", "delete",    "mProperties",       "mExit",
          "mPausedl",   "stopdl",     "mPauseall", "stopall",           "mResumeall",
          "mResetlist", "resumed",    "PrioHigh",  "PrioMiddle",        "PrioLow",
          "shedulded",  "cleardown2", "clearall",  "forceFileBuilding", "sdw"}) {
        EXPECT_NE(w.findChild<QAction*>(QLatin1String(name)), nullptr) << name;
    }
    EXPECT_EQ(w.findChild<QAction*>(QStringLiteral("PrioLow"))->text(), texts.text(692));
}

TEST_F(MainWindowTest, StatusLinePanels) {
    Kestor& w = open();
    EXPECT_EQ(w.statusText(1), QStringLiteral("Brenloft version 1"));
    w.Status(QStringLiteral("Connecting..."));
    w.setSpeedText(QStringLiteral("Speed: 1.5 KB/s"));
    w.setTotalText(QStringLiteral("Total: 2 MB"));
    EXPECT_EQ(w.statusText(1), QStringLiteral("Connecting..."));
    EXPECT_EQ(w.statusText(2), QStringLiteral("Speed: 1.5 KB/s"));
    EXPECT_EQ(w.statusText(3), QStringLiteral("Total: 2 MB"));
}

}  // namespace
}  // namespace main_window_test
