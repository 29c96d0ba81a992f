// The drop basket under drops, the mouse and the tray menu, with the settings store of a
// sandbox.

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <ostream>

#include "core/settings/settings.h"
#include "core/settings/settings_store.h"
#include "core/text/text_table.h"
#include "tests/support/sandbox.h"
#include "tests/support/text_printer.h"
#include "ui/basket/basket_control.h"
#include "ui/basket/download_basket.h"
#include "ui/tray/quenby_catcher.h"

namespace {

// A drop of `data` as the platform delivers it; true when the basket took it.
bool Drop(DownloadBasket& basket, const QMimeData& data, Qt::DropActions actions,
          Qt::DropAction* effect = nullptr) {
    QDragEnterEvent enter(QPoint(16, 16), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&basket, &enter);
    QDropEvent drop(QPointF(16, 16), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&basket, &drop);
    if (effect != nullptr) {
        *effect = drop.dropAction();
    }
    EXPECT_EQ(enter.isAccepted(), drop.isAccepted());
    return drop.isAccepted();
}

QStringList Urls(const QSignalSpy& spy) {
    QStringList urls;
    for (const QList<QVariant>& call : spy) {
        urls << call.at(0).toString();
    }
    return urls;
}

void SendMouse(QWidget& w, QEvent::Type type, QPoint local, QPoint global, Qt::MouseButton button,
               Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(local), QPointF(global), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

TEST(DownloadBasket, DropOfTextAddsEveryAddressAfterTheDrop) {
    DownloadBasket basket;
    QSignalSpy dropped(&basket, &DownloadBasket::urlDropped);
    QMimeData text;
    text.setText(
        QStringLiteral("see http://a.example/one.zip and ftp://b.example/two.iso, or "
                       "http://c.example/three.bin"));
    Qt::DropAction effect = Qt::IgnoreAction;
    EXPECT_TRUE(Drop(basket, text, Qt::CopyAction | Qt::MoveAction, &effect));
    EXPECT_EQ(effect, Qt::CopyAction);
    EXPECT_EQ(dropped.count(), 0) << "nothing is added while the drag's source waits";
    QCoreApplication::processEvents();
    EXPECT_EQ(Urls(dropped), (QStringList{"http://a.example/one.zip", "http://c.example/three.bin",
                                          "ftp://b.example/two.iso,"}));

    // Text without an address is taken and adds nothing.
    dropped.clear();
    QMimeData words;
    words.setText(QStringLiteral("HTTP://SHOUTING.EXAMPLE/ and plain words"));
    EXPECT_TRUE(Drop(basket, words, Qt::CopyAction));
    QCoreApplication::processEvents();
    EXPECT_EQ(dropped.count(), 0);

    // Secure addresses come after the plain http ones, before ftp.
    QMimeData secure;
    secure.setText(QStringLiteral("ftp://f.example/a https://s.example/b.iso http://h.example/c"));
    EXPECT_TRUE(Drop(basket, secure, Qt::CopyAction));
    QCoreApplication::processEvents();
    EXPECT_EQ(Urls(dropped),
              (QStringList{"http://h.example/c", "https://s.example/b.iso", "ftp://f.example/a"}));
}

TEST(DownloadBasket, LinkListsCountOnceAndOtherDataIsRefused) {
    DownloadBasket basket;
    QSignalSpy dropped(&basket, &DownloadBasket::urlDropped);

    QMimeData list;
    list.setData(QStringLiteral("text/uri-list"),
                 "# from a browser\r\nhttp://a.example/1.zip\r\nftp://b.example/2.iso\r\n");
    EXPECT_TRUE(Drop(basket, list, Qt::CopyAction | Qt::LinkAction));
    QCoreApplication::processEvents();
    EXPECT_EQ(Urls(dropped), (QStringList{"http://a.example/1.zip", "ftp://b.example/2.iso"}));

    // A browser's link comes as a list and as text: the text alone counts.
    dropped.clear();
    QMimeData link;
    link.setData(QStringLiteral("text/uri-list"), "http://a.example/1.zip\r\n");
    link.setData(QStringLiteral("text/plain;charset=utf-8"), "http://a.example/1.zip");
    EXPECT_TRUE(Drop(basket, link, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction));
    QCoreApplication::processEvents();
    EXPECT_EQ(Urls(dropped), QStringList{"http://a.example/1.zip"});

    // Files from a file manager: every address line of the text files among them, the other
    // lines and files skipped.
    dropped.clear();
    QTemporaryDir dir;
    QFile list1(dir.filePath(QStringLiteral("list.txt")));
    ASSERT_TRUE(list1.open(QIODevice::WriteOnly));
    list1.write("http://a.example/1.zip\r\n\nnot an address\nftp://b.example/2.iso\n");
    list1.close();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/http:/x.bin")),
                   QUrl::fromLocalFile(list1.fileName())});
    Drop(basket, files, Qt::CopyAction);
    QCoreApplication::processEvents();
    EXPECT_EQ(Urls(dropped), (QStringList{"http://a.example/1.zip", "ftp://b.example/2.iso"}));

    // Pictures and other data are refused outright.
    dropped.clear();
    QMimeData picture;
    picture.setData(QStringLiteral("image/png"), QByteArray("\x89PNG http://a.example/x", 23));
    picture.setData(QStringLiteral("application/octet-stream"), "http://a.example/y");
    EXPECT_FALSE(Drop(basket, picture, Qt::CopyAction));
    QCoreApplication::processEvents();
    EXPECT_EQ(dropped.count(), 0);

    // A drag that only allows moving (a finished entry of the main window) still adds.
    QMimeData moved;
    moved.setText(QStringLiteral("http://a.example/moved.bin"));
    Qt::DropAction effect = Qt::IgnoreAction;
    EXPECT_TRUE(Drop(basket, moved, Qt::MoveAction, &effect));
    EXPECT_EQ(effect, Qt::MoveAction);
    QCoreApplication::processEvents();
    EXPECT_EQ(Urls(dropped), QStringList{"http://a.example/moved.bin"});
}

TEST(DownloadBasket, LeftButtonDragsItWithinTheScreenAndRightReleaseAsksForTheMenu) {
    DownloadBasket basket;
    const QRect screen = basket.screen()->geometry();
    basket.move(screen.topLeft() + QPoint(100, 100));
    basket.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&basket));
    const QPoint start = basket.pos();

    SendMouse(basket, QEvent::MouseButtonPress, {10, 12}, start + QPoint(10, 12), Qt::LeftButton,
              Qt::LeftButton);
    SendMouse(basket, QEvent::MouseMove, {40, 62}, start + QPoint(40, 62), Qt::NoButton,
              Qt::LeftButton);
    EXPECT_EQ(basket.pos(), start + QPoint(30, 50));
    SendMouse(basket, QEvent::MouseMove, {0, 0}, screen.topLeft() + QPoint(3, 4), Qt::NoButton,
              Qt::LeftButton);
    EXPECT_EQ(basket.pos(), screen.topLeft());
    SendMouse(basket, QEvent::MouseMove, {0, 0}, screen.bottomRight() + QPoint(50, 50),
              Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(basket.pos(), screen.bottomRight() - QPoint(31, 31));
    SendMouse(basket, QEvent::MouseButtonRelease, {0, 0}, screen.bottomRight(), Qt::LeftButton,
              Qt::NoButton);
    // Without the button, the mouse moves over it and nothing else.
    const QPoint parked = basket.pos();
    SendMouse(basket, QEvent::MouseMove, {5, 5}, screen.topLeft() + QPoint(200, 200), Qt::NoButton,
              Qt::NoButton);
    EXPECT_EQ(basket.pos(), parked);

    QSignalSpy menu(&basket, &DownloadBasket::menuRequested);
    SendMouse(basket, QEvent::MouseButtonPress, {8, 8}, parked + QPoint(8, 8), Qt::RightButton,
              Qt::RightButton);
    EXPECT_EQ(menu.count(), 0) << "on release, not on press";
    SendMouse(basket, QEvent::MouseButtonRelease, {8, 8}, parked + QPoint(8, 8), Qt::RightButton,
              Qt::NoButton);
    ASSERT_EQ(menu.count(), 1);
    EXPECT_EQ(menu.at(0).at(0).toPoint(), parked + QPoint(8, 8));
    EXPECT_EQ(basket.pos(), parked);
}

TEST(DownloadBasket, FirstPlaceIsTheSavedOneOnTheScreen) {
    Sandbox box;
    SettingsStore store(box.file(QStringLiteral("Velmora.ini")));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QString windows = QStringLiteral("Windows");

    DownloadBasket home;
    home.placeOnLoad(store);
    EXPECT_EQ(home.pos(),
              screen.topLeft() + QPoint(screen.width() / 2 - 32, screen.height() / 2 - 32 - 33));

    store.write(windows, QStringLiteral("BasX"), QStringLiteral("3000"));
    store.write(windows, QStringLiteral("BasY"), QStringLiteral("1500"));
    DownloadBasket saved;
    saved.placeOnLoad(store);
    EXPECT_EQ(saved.pos(), QPoint(200, 100));

    // Half a place is none.
    store.write(windows, QStringLiteral("BasY"), QStringLiteral("-1"));
    DownloadBasket half;
    half.placeOnLoad(store);
    EXPECT_EQ(half.pos(), home.pos());

    // A place beyond every screen (one unplugged since) comes back onto the screen.
    store.write(windows, QStringLiteral("BasX"), QStringLiteral("30000"));
    store.write(windows, QStringLiteral("BasY"), QStringLiteral("30000"));
    DownloadBasket gone;
    gone.placeOnLoad(store);
    EXPECT_EQ(gone.pos(), screen.bottomRight() - QPoint(31, 31));

    gone.move(120, 40);
    gone.savePosition(store);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("BasX")), 1800);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("BasY")), 600);
}

class BasketControlTest : public ::testing::Test {
protected:
    BasketControlTest() : store(box.file(QStringLiteral("Velmora.ini"))), catcher(texts) {
        sdb.setCheckable(true);
    }
    QAction* closebasket() { return catcher.findChild<QAction*>(QStringLiteral("closebasket")); }

    Sandbox box;
    SettingsStore store;
    TextTable texts;
    QuenbyCatcher catcher;
    QAction sdb;
    QStringList added;
};

TEST_F(BasketControlTest, TheCheckMarkShowsTheBasketAndCloseBasketUnchecksIt) {
    BasketControl control(sdb, catcher, store, [this](const QString& url) { added << url; });
    EXPECT_EQ(control.basket(), nullptr) << "created on first use";

    sdb.trigger();
    ASSERT_NE(control.basket(), nullptr);
    EXPECT_TRUE(control.basket()->isVisible());
    const Qt::WindowFlags flags = control.basket()->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(control.basket()->size(), QSize(32, 32));

    // A right click opens the tray menu with closebasket; choosing it puts the basket away.
    emit control.basket()->menuRequested(QPoint(50, 50));
    EXPECT_TRUE(catcher.pop()->isVisible());
    EXPECT_TRUE(closebasket()->isVisible());
    catcher.pop()->hide();
    closebasket()->trigger();
    EXPECT_FALSE(sdb.isChecked());
    EXPECT_FALSE(control.basket()->isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(closebasket()->isVisible());

    // Shown again at the same place; a close from the window manager also unchecks the entry.
    control.basket()->move(300, 200);
    sdb.trigger();
    EXPECT_TRUE(control.basket()->isVisible());
    EXPECT_EQ(control.basket()->pos(), QPoint(300, 200));
    EXPECT_FALSE(control.basket()->close());
    EXPECT_FALSE(sdb.isChecked());
    EXPECT_FALSE(control.basket()->isVisible());

    control.savePosition();
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("BasX")), 4500);
    EXPECT_EQ(ReadWindowPosition(store, QStringLiteral("BasY")), 3000);
}

// While a dialog is open the basket is no longer above other windows, so the dialog is never
// under it; it is above them again once the last dialog has gone.
TEST_F(BasketControlTest, TheBasketStepsBackWhileADialogIsOpen) {
    BasketControl control(sdb, catcher, store, {});
    sdb.trigger();
    ASSERT_NE(control.basket(), nullptr);
    control.basket()->move(300, 200);
    const auto above = [&] {
        return control.basket()->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    };
    ASSERT_TRUE(above());

    auto box = std::make_unique<QMessageBox>(QMessageBox::Question, QStringLiteral("Brenloft"),
                                             QStringLiteral("Really?"));
    QDialog prompt;
    box->show();
    EXPECT_FALSE(above());
    EXPECT_TRUE(control.basket()->isVisible());
    EXPECT_EQ(control.basket()->pos(), QPoint(300, 200));
    prompt.show();
    box.reset();  // one of two gone: still stepped back
    EXPECT_FALSE(above());
    prompt.hide();
    EXPECT_TRUE(above());
    EXPECT_TRUE(control.basket()->isVisible());
    EXPECT_EQ(control.basket()->pos(), QPoint(300, 200));

    // Put away while a dialog is open, it stays away when the dialog goes.
    prompt.show();
    closebasket()->trigger();
    prompt.hide();
    EXPECT_TRUE(above());
    EXPECT_FALSE(control.basket()->isVisible());
}

TEST_F(BasketControlTest, DroppedAddressesGoToTheAddCallbackOnceEach) {
    BasketControl control(sdb, catcher, store, [this](const QString& url) { added << url; });
    control.savePosition();
    EXPECT_FALSE(store.read(QStringLiteral("Windows"), QStringLiteral("BasX")))
        << "a basket never shown has no place to keep";
    sdb.setChecked(true);
    QMimeData text;
    text.setText(QStringLiteral("http://a.example/1.zip\r\nhttp://b.example/2.zip"));
    EXPECT_TRUE(Drop(*control.basket(), text, Qt::CopyAction));
    QCoreApplication::processEvents();
    EXPECT_EQ(added, (QStringList{"http://a.example/1.zip", "http://b.example/2.zip"}));
}

}  // namespace
