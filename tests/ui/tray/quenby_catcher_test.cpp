// The tray window: its tip, its speed meter, its menu and what a click on the icon asks for.

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <ostream>

#include "core/text/text_table.h"
#include "tests/support/sandbox.h"
#include "tests/support/text_printer.h"
#include "ui/tray/program_icons.h"
#include "ui/tray/quenby_catcher.h"

namespace {

class QuenbyCatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLanguage(texts, QStringLiteral("english"),
                                 {SourcePath(QStringLiteral("data/lang"))}));
    }
    QAction* entry(QuenbyCatcher& catcher, const char* name) {
        return catcher.findChild<QAction*>(QLatin1String(name));
    }
    static QImage Picture(const QIcon& icon) { return icon.pixmap(22, 22).toImage(); }

    TextTable texts;
};

TEST_F(QuenbyCatcherTest, TipStartsAsTheCaptionAndShowsAtMost63Characters) {
    QuenbyCatcher catcher(texts);
    EXPECT_EQ(catcher.trayIcon()->toolTip(), QStringLiteral("BrenloftCatcher"));
    EXPECT_EQ(catcher.windowTitle(), texts.text(704)) << "the language came after the icon";

    QString hundred;
    for (int i = 0; i < 100; ++i) {
        hundred += QChar(u'a' + i % 26);
    }
    catcher.refreshMessage(hundred);
    EXPECT_EQ(catcher.trayIcon()->toolTip(), hundred.left(63));
    catcher.refreshMessage(QStringLiteral("Brenloft active downloads (0) Speed: 0 KB/s "));
    EXPECT_EQ(catcher.trayIcon()->toolTip(),
              QStringLiteral("Brenloft active downloads (0) Speed: 0 KB/s "));
    // A character outside the basic plane that the cut would halve goes entirely.
    const QString wide = QString(62, u'x') + QString::fromUtf8("\xF0\x9F\x93\xA5") + u'y';
    catcher.refreshMessage(wide);
    EXPECT_EQ(catcher.trayIcon()->toolTip(), QString(62, u'x'));
}

TEST_F(QuenbyCatcherTest, LevelsShowTheProgramIconOrTheSpeedMeter) {
    QuenbyCatcher catcher(texts);
    EXPECT_EQ(catcher.level(), 0);
    EXPECT_EQ(Picture(catcher.trayIcon()->icon()), Picture(ProgramIcon()));
    for (int level : {3, 1, 4, 2}) {
        catcher.refreshIcon(level);
        EXPECT_EQ(Picture(catcher.trayIcon()->icon()), Picture(SpeedIcon(level))) << level;
    }
    EXPECT_NE(Picture(SpeedIcon(1)), Picture(SpeedIcon(4)));
    // Levels outside the meter leave the picture as it was.
    catcher.refreshIcon(5);
    catcher.refreshIcon(-1);
    EXPECT_EQ(catcher.level(), 2);
    catcher.refreshIcon(0);
    EXPECT_EQ(Picture(catcher.trayIcon()->icon()), Picture(ProgramIcon()));
}

TEST_F(QuenbyCatcherTest, MenuHasTheInterfaceTextsAndOpenAsItsDefault) {
    TextTable french = texts;
    ASSERT_TRUE(LoadLanguage(french, QStringLiteral("francais"),
                             {SourcePath(QStringLiteral("data/lang"))}));
    QuenbyCatcher catcher(french);
    QStringList captions;
    for (const QAction* a : catcher.pop()->actions()) {
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    EXPECT_EQ(captions, (QStringList{french.text(700), french.text(701), french.text(702),
                                     QStringLiteral("-"), french.text(805), french.text(703)}));
    EXPECT_EQ(catcher.pop()->defaultAction(), entry(catcher, "openwin"));
    EXPECT_EQ(catcher.trayIcon()->contextMenu(), catcher.pop());
}

TEST_F(QuenbyCatcherTest, CloseBasketIsOfferedOnlyWhileTheBasketOpenedTheMenu) {
    QuenbyCatcher catcher(texts);
    QAction* closebasket = entry(catcher, "closebasket");
    ASSERT_NE(closebasket, nullptr);
    EXPECT_FALSE(closebasket->isVisible());

    catcher.showMenu(QPoint(200, 200), true);
    EXPECT_TRUE(catcher.pop()->isVisible());
    EXPECT_TRUE(closebasket->isVisible());
    catcher.pop()->hide();
    QCoreApplication::processEvents();
    EXPECT_FALSE(closebasket->isVisible());

    catcher.showMenu(QPoint(200, 200), false);
    EXPECT_TRUE(catcher.pop()->isVisible());
    EXPECT_FALSE(closebasket->isVisible());
    catcher.pop()->hide();
    QCoreApplication::processEvents();

    // Chosen from the menu, the entry is still there when it is triggered.
    QSignalSpy closing(&catcher, &QuenbyCatcher::closeBasketRequested);
    catcher.showMenu(QPoint(200, 200), true);
    catcher.pop()->hide();
    closebasket->trigger();
    EXPECT_EQ(closing.count(), 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(closebasket->isVisible());
}

TEST_F(QuenbyCatcherTest, ClicksAndEntriesAskForTheirActions) {
    QuenbyCatcher catcher(texts);
    QSignalSpy open(&catcher, &QuenbyCatcher::openRequested);
    QSignalSpy pause(&catcher, &QuenbyCatcher::pauseAllRequested);
    QSignalSpy resume(&catcher, &QuenbyCatcher::resumeAllRequested);
    QSignalSpy exit(&catcher, &QuenbyCatcher::exitRequested);

    catcher.iconActivated(QSystemTrayIcon::Trigger);
    catcher.iconActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(open.count(), 2);
    // The tray shows the menu on its own for a right click; a middle click does nothing.
    catcher.iconActivated(QSystemTrayIcon::Context);
    catcher.iconActivated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(open.count(), 2);
    EXPECT_FALSE(catcher.pop()->isVisible());

    entry(catcher, "openwin")->trigger();
    entry(catcher, "pauseall")->trigger();
    entry(catcher, "resumeall")->trigger();
    entry(catcher, "exitmenu")->trigger();
    EXPECT_EQ(open.count(), 3);
    EXPECT_EQ(pause.count(), 1);
    EXPECT_EQ(resume.count(), 1);
    EXPECT_EQ(exit.count(), 1);
}

}  // namespace
