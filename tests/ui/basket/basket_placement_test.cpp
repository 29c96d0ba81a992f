#include <gtest/gtest.h>

#include "ui/basket/basket_placement.h"

namespace {

constexpr QSize kBasket(32, 32);

TEST(KeepOnScreen, StopsAtEveryEdgeOfTheScreen) {
    const QRect screen(0, 0, 1024, 768);
    EXPECT_EQ(KeepOnScreen({-5, 100}, kBasket, screen), QPoint(0, 100));
    EXPECT_EQ(KeepOnScreen({100, -7}, kBasket, screen), QPoint(100, 0));
    EXPECT_EQ(KeepOnScreen({1000, 100}, kBasket, screen), QPoint(992, 100));
    EXPECT_EQ(KeepOnScreen({100, 760}, kBasket, screen), QPoint(100, 736));
    EXPECT_EQ(KeepOnScreen({-40, 9000}, kBasket, screen), QPoint(0, 736));
    // Up to the edges themselves is allowed.
    EXPECT_EQ(KeepOnScreen({0, 0}, kBasket, screen), QPoint(0, 0));
    EXPECT_EQ(KeepOnScreen({992, 736}, kBasket, screen), QPoint(992, 736));
    EXPECT_EQ(KeepOnScreen({500, 300}, kBasket, screen), QPoint(500, 300));
}

TEST(KeepOnScreen, ScreensBesideTheFirstAndSmallerThanTheWindow) {
    const QRect right(1024, 0, 800, 600);
    EXPECT_EQ(KeepOnScreen({1000, 10}, kBasket, right), QPoint(1024, 10));
    EXPECT_EQ(KeepOnScreen({1900, 590}, kBasket, right), QPoint(1792, 568));
    // The far limit wins when the bounds cross.
    EXPECT_EQ(KeepOnScreen({5, 5}, kBasket, QRect(0, 0, 20, 20)), QPoint(-12, -12));
}

TEST(BasketHomePosition, IsAboveTheMiddleOfTheScreen) {
    // Half the screen less the basket, and 500 twips (33 pixels) higher.
    EXPECT_EQ(BasketHomePosition(kBasket, QRect(0, 0, 1280, 800)), QPoint(608, 335));
    EXPECT_EQ(BasketHomePosition(kBasket, QRect(1280, 0, 1920, 1080)), QPoint(2208, 475));
}

TEST(PlaceOnScreens, AWindowOffEveryScreenComesOntoTheNearest) {
    const QList<QRect> screens{{0, 0, 2560, 1440}, {2560, 0, 2560, 1440}};
    const QSize window(800, 600);
    struct Row {
        QPoint saved;
        QPoint placed;
    } const rows[] = {
        {{3000, 100}, {3000, 100}},   // on the second screen: where it was
        {{2200, 500}, {2200, 500}},   // across both, its middle on one
        {{6000, 100}, {4320, 100}},   // beyond the right edge
        {{-2000, 200}, {0, 200}},     // left of the first
        {{1000, 2000}, {1000, 840}},  // below
    };
    for (const Row& row : rows) {
        EXPECT_EQ(PlaceOnScreens(QRect(row.saved, window), screens), row.placed) << row.saved.x();
    }
    EXPECT_EQ(PlaceOnScreens(QRect({7, 7}, window), {}), QPoint(7, 7));
}

}  // namespace
