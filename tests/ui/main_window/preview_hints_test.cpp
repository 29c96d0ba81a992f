// The preview panel beside the finished list, the status-line hints and the about box.

#include <QEnterEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolBar>

#include "tests/ui/main_window/main_window_fixture.h"
#include "ui/preview/media_preview.h"
#include "ui/preview/preview_panel.h"

namespace main_window_test {
namespace {

using namespace std::chrono_literals;

TEST_F(MainWindowTest, HintsTellWhatTheControlUnderTheMouseDoes) {
    Kestor& w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto* toolbar = w.findChild<QToolBar*>(QStringLiteral("Toolbar1"));
    const auto tool = [&](const char* name) {
        return toolbar->widgetForAction(w.findChild<QAction*>(QLatin1String(name)));
    };
    const auto child = [&](const char* name) { return w.findChild<QWidget*>(QLatin1String(name)); };
    struct Case {
        QWidget* control;
        QString hint;  // empty: the status line stays as it was
    };
    for (const Case& c : {
             Case{w.listView1()->viewport(), texts.text(666)},
             Case{tool("AddURL"), texts.text(130)},
             Case{tool("PauseDownload"), texts.text(136)},
             Case{tool("ResumeDownload"), texts.text(138)},
             Case{tool("Options"), QString()},
             Case{child("Command1_2"), texts.text(167)},
             Case{child("Picture3"), texts.text(677)},
             Case{child("Command2"), texts.text(681)},
             Case{child("Command3"), texts.text(680)},
             Case{child("Slider1"), texts.text(688)},
         }) {
        ASSERT_NE(c.control, nullptr) << c.hint.toStdString();
        w.Status(QStringLiteral("before"));
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(c.control, &enter);
        EXPECT_EQ(w.statusText(1), c.hint.isEmpty() ? QStringLiteral("before") : c.hint)
            << c.control->objectName().toStdString();
    }
    QTest::mousePress(w.listView2()->viewport(), Qt::LeftButton);
    EXPECT_EQ(w.statusText(1), texts.text(663));

    EXPECT_EQ(w.aboutText(), QStringLiteral("Brenloft!\n\n%1\n\n%2 1\n\n%3")
                                 .arg(texts.text(694), texts.text(801), texts.text(238)));
    // A click on "Current downloads" puts the window away.
    QTest::mouseClick(child("Label1"), Qt::LeftButton);
    EXPECT_TRUE(w.isMinimized());
}

TEST_F(MainWindowTest, AClickPreviewsAFinishedFileUnlessADoubleClickOpensIt) {
    const int photo = add(QStringLiteral("photo.png"), Kind::Finished);
    const int other = add(QStringLiteral("other.png"), Kind::Finished);
    const int gone = add(QStringLiteral("gone.png"), Kind::FinishedMissing);
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (int slot : {photo, other}) {
        ASSERT_TRUE(image.save(record(slot).SavePath, "PNG"));
    }
    Kestor& w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    PreviewPanel& panel = *w.previewPanel();
    const MediaPreview& media = panel.media();
    QWidget* list = w.listView2()->viewport();
    const auto row = [&](int slot) {
        const QTreeView* v = w.listView2();
        return v->visualRect(v->model()->index(ViewRow(v, key(slot)), 0)).center();
    };

    QTest::mouseClick(list, Qt::LeftButton, {}, row(photo));
    ASSERT_TRUE(WaitFor([&] { return media.currentFile() == record(photo).SavePath; }, 5s));
    EXPECT_TRUE(media.isPicture());
    EXPECT_EQ(w.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), key(photo));
    EXPECT_EQ(w.findChild<QLineEdit*>(QStringLiteral("Text2"))->text(),
              QStringLiteral("200 ") + texts.text(0));
    EXPECT_EQ(w.findChild<QLineEdit*>(QStringLiteral("Text3"))->text(), record(photo).SavePath);

    // A double click opens the file; no preview follows when the click's wait is over.
    QTest::mouseClick(list, Qt::LeftButton, {}, row(other));
    QTest::mouseDClick(list, Qt::LeftButton, {}, row(other));
    EXPECT_EQ(opened, QStringList{record(other).SavePath});
    WaitFor([] { return false; }, 900ms);
    EXPECT_EQ(media.currentFile(), record(photo).SavePath);

    QTest::mouseClick(list, Qt::LeftButton, {}, row(gone));
    EXPECT_TRUE(media.isUnavailable()) << "a file that is gone says so at once";

    // The panel's button folds it away and brings it back; hidden, a click previews nothing.
    auto* command4 = w.findChild<QPushButton*>(QStringLiteral("Command4"));
    QTest::mouseClick(command4, Qt::LeftButton);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(command4->text(), QStringLiteral("<"));
    QTest::mouseClick(command4, Qt::LeftButton);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(command4->text(), QStringLiteral(">"));
}

TEST_F(MainWindowTest, ThePreviewMenuShowsTheBeginningOfADownload) {
    const int partial = add(QStringLiteral("movie.png"), Kind::Paused);
    const int unplanned = add(QStringLiteral("later.png"), Kind::Paused);
    record(unplanned).Segments.redim(0);
    record(unplanned).SegmentCount = 0;
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::yellow);
    // The first part holds the file's beginning: here all of a small picture.
    ASSERT_TRUE(image.save(record(partial).Segments.at(1)->PartFile, "PNG"));
    Kestor& w = open();
    const MediaPreview& media = w.previewPanel()->media();

    Select(w.listView1(), key(partial));
    trigger("previewmenu");
    ASSERT_TRUE(WaitFor([&] { return media.isPicture(); }, 5s));
    EXPECT_EQ(media.currentFile(), record(partial).Segments.at(1)->PartFile);

    w.listView1()->clearSelection();
    Select(w.listView1(), key(unplanned));
    trigger("previewmenu");
    EXPECT_TRUE(media.isUnavailable()) << "nothing planned: a message, no failure";
}

}  // namespace
}  // namespace main_window_test
