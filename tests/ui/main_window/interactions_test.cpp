// The lists under the mouse and keyboard: keys, double clicks, the state of the menus.

#include <QMenu>
#include <QTest>

#include "tests/ui/main_window/main_window_fixture.h"
#include "ui/main_window/gui_add_prompts.h"

namespace main_window_test {
namespace {

TEST_F(MainWindowTest, DeleteKeyActsOnTheListThatHasTheFocus) {
    const int paused = add(QStringLiteral("paused.bin"), Kind::Paused);
    const int finished = add(QStringLiteral("finished.bin"), Kind::Finished);
    Kestor& w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    Select(w.listView2(), key(finished));
    w.listView2()->setFocus();
    QTest::keyClick(w.listView2(), Qt::Key_Delete);
    EXPECT_EQ(StateOf(record(finished)), ListEntryState::Removed);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(StateOf(record(paused)), ListEntryState::Paused);

    Select(w.listView1(), key(paused));
    w.listView1()->setFocus();
    answers = {true};
    QTest::keyClick(w.listView1(), Qt::Key_Delete);
    EXPECT_EQ(questions, QStringList{texts.text(411)});
    EXPECT_EQ(StateOf(record(paused)), ListEntryState::Removed);
}

TEST_F(MainWindowTest, DoubleClickRestartsOrOpens) {
    const int paused = add(QStringLiteral("paused.bin"), Kind::Paused);
    const int finished = add(QStringLiteral("finished.bin"), Kind::Finished);
    const int gone = add(QStringLiteral("gone.bin"), Kind::FinishedMissing);
    Kestor& w = open();

    QTreeView* v1 = w.listView1();
    emit v1->doubleClicked(v1->model()->index(ViewRow(v1, key(paused)), 0));
    EXPECT_TRUE(queue->hasSession(paused));
    EXPECT_EQ(StateOf(record(paused)), ListEntryState::Running);

    QTreeView* v2 = w.listView2();
    emit v2->doubleClicked(v2->model()->index(ViewRow(v2, key(finished)), 0));
    EXPECT_EQ(opened, QStringList{record(finished).SavePath});
    emit v2->doubleClicked(v2->model()->index(ViewRow(v2, key(gone)), 0));
    EXPECT_EQ(opened.size(), 1);
    EXPECT_EQ(errors, QStringList{texts.text(687) + QStringLiteral(" gone.bin")});
}

TEST_F(MainWindowTest, MenusOfferWhatTheSelectedDownloadAllows) {
    const int running = add(QStringLiteral("running.bin"), Kind::Running);
    const int scheduled = add(QStringLiteral("scheduled.bin"), Kind::Scheduled);
    Kestor& w = open();
    auto* menu = w.findChild<QMenu*>(QStringLiteral("mDownloads"));
    ASSERT_NE(menu, nullptr);
    auto enabled = [&](const char* name) {
        return w.findChild<QAction*>(QLatin1String(name))->isEnabled();
    };
    auto checked = [&](const char* name) {
        return w.findChild<QAction*>(QLatin1String(name))->isChecked();
    };

    emit menu->aboutToShow();
    EXPECT_FALSE(enabled("resumed"));
    EXPECT_FALSE(enabled("delete"));
    EXPECT_TRUE(enabled("stopall"));

    Select(w.listView1(), key(running));
    emit menu->aboutToShow();
    EXPECT_FALSE(enabled("resumed"));
    EXPECT_TRUE(enabled("stopdl"));
    EXPECT_TRUE(checked("PrioMiddle"));

    w.listView1()->clearSelection();
    Select(w.listView1(), key(scheduled));
    emit menu->aboutToShow();
    EXPECT_TRUE(enabled("resumed"));
    EXPECT_FALSE(enabled("stopdl"));
    EXPECT_TRUE(checked("shedulded"));
    auto visible = [&](const char* name) {
        return w.findChild<QAction*>(QLatin1String(name))->isVisible();
    };
    EXPECT_TRUE(visible("resumed"));
    EXPECT_FALSE(visible("opene"));

    // Finished while its row still stands: the menu opens the file instead of resuming it.
    QStringList opened;
    ctx.openUrl = [&opened](const QString& path) { opened << path; };
    record(scheduled).Completed = FlagTrue;
    record(scheduled).SavePath = file(QStringLiteral("downloads/scheduled.bin"));
    ASSERT_TRUE(WriteFile(record(scheduled).SavePath, "done"));
    emit menu->aboutToShow();
    EXPECT_FALSE(visible("resumed"));
    EXPECT_TRUE(visible("opene"));
    trigger("opene");
    EXPECT_EQ(opened, QStringList{record(scheduled).SavePath});
}

TEST(FileDialogFilter, NamesEveryFileTheLinuxWay) {
    EXPECT_EQ(FileDialogFilter(QStringLiteral("All files (*.*)|*.*")),
              QStringLiteral("All files (*)"));
    EXPECT_EQ(FileDialogFilter(QStringLiteral("Archives|*.zip;*.tar.gz|All|*.*")),
              QStringLiteral("Archives (*.zip *.tar.gz);;All (*)"));
    EXPECT_EQ(FileDialogFilter(QStringLiteral("Pictures (*.png)")),
              QStringLiteral("Pictures (*.png)"));
}

}  // namespace
}  // namespace main_window_test
