// Drops on the unfinished list and what a drag out of the finished list carries.

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <memory>

#include "tests/support/scripted_prompts.h"
#include "tests/ui/main_window/main_window_fixture.h"

namespace main_window_test {
namespace {

// Drags `data` over the list and drops it where the user would; true when the list took it.
bool Drop(QTreeView* list, const QMimeData& data) {
    QWidget* target = list->viewport();
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QCoreApplication::processEvents();  // the adding comes after the drop
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

TEST_F(MainWindowTest, TextDroppedOnTheDownloadListAddsEveryAddressInIt) {
    Kestor& w = open();
    ScriptedAddPrompts addQuestions;
    w.setAddPrompts(&addQuestions);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort());
    struct Case {
        QString text;       // empty: the drag offers no text at all
        QStringList added;  // the addresses the list gains, in order
        bool taken;
        bool links = false;  // offered as a text/uri-list, not as text
    };
    const std::vector<Case> cases = {
        {QStringLiteral("get ") + base + QStringLiteral("a.bin please"),
         {base + QStringLiteral("a.bin")},
         true},
        {base + QStringLiteral("b.iso ftp://127.0.0.1/c.tar and ") + base + QStringLiteral("d.zip"),
         // every http address first, then the ftp ones
         {base + QStringLiteral("b.iso"), base + QStringLiteral("d.zip"),
          QStringLiteral("ftp://127.0.0.1/c.tar")},
         true},
        {QStringLiteral("no address here"), {}, true},
        {QStringLiteral("# links\r\n") + base + QStringLiteral("e.bin\r\n") + base +
             QStringLiteral("f.bin\r\n"),
         {base + QStringLiteral("e.bin"), base + QStringLiteral("f.bin")},
         true,
         true},
        {QString(), {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const int before = list.DownloadCount;
        QMimeData data;
        if (c.text.isEmpty()) {
            data.setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
        } else if (c.links) {
            data.setData(QStringLiteral("text/uri-list"), c.text.toUtf8());
        } else {
            data.setText(c.text);
        }
        EXPECT_EQ(Drop(w.listView1(), data), c.taken);
        QStringList added;
        for (int slot = before + 1; slot <= list.DownloadCount; ++slot) {
            added << record(slot).Url;
        }
        EXPECT_EQ(added, c.added);
        for (const QString& url : c.added) {
            EXPECT_GE(ViewRow(w.listView1(), url), 0) << url.toStdString();
        }
    }
    EXPECT_TRUE(addQuestions.errors.isEmpty()) << addQuestions.errors.join(u'|').toStdString();
}

TEST_F(MainWindowTest, AFinishedFileIsDraggedOutAsItsFile) {
    const int there = add(QStringLiteral("there.bin"), Kind::Finished);
    const int gone = add(QStringLiteral("gone.bin"), Kind::FinishedMissing);
    Kestor& w = open();
    const std::unique_ptr<QMimeData> data(w.finishedDragData({key(there), key(gone)}));
    // Only a file that is there goes to the desktop; both addresses go as text.
    EXPECT_EQ(
        data->urls(),
        QList<QUrl>{QUrl::fromLocalFile(QFileInfo(record(there).SavePath).absoluteFilePath())});
    EXPECT_EQ(data->text(), key(there) + u'\n' + key(gone));
}

// Dropped on the download list, a finished entry is offered for downloading again; a "No"
// leaves both lists, and the file, as they were.
TEST_F(MainWindowTest, AFinishedEntryDroppedOnTheDownloadListAsksAndNoChangesNothing) {
    const int paused = add(QStringLiteral("paused.bin"), Kind::Paused);
    const int finished = add(QStringLiteral("done.bin"), Kind::Finished);
    Kestor& w = open();
    ScriptedAddPrompts addQuestions;
    w.setAddPrompts(&addQuestions);
    const QStringList unfinishedBefore = Keys(w.listView1());
    const QStringList finishedBefore = Keys(w.listView2());
    ASSERT_EQ(finishedBefore, QStringList{key(finished)});
    const std::unique_ptr<QMimeData> data(w.finishedDragData({key(finished)}));

    addQuestions.answers = {false};
    EXPECT_TRUE(Drop(w.listView1(), *data));
    EXPECT_EQ(addQuestions.questions, QStringList{texts.text(403)});
    EXPECT_EQ(Keys(w.listView1()), unfinishedBefore);
    EXPECT_EQ(Keys(w.listView2()), finishedBefore);
    EXPECT_EQ(StateOf(record(finished)), ListEntryState::Finished);
    EXPECT_TRUE(QFileInfo::exists(record(finished).SavePath));
    EXPECT_EQ(list.DownloadCount, 2);
    (void)paused;
}

}  // namespace
}  // namespace main_window_test
