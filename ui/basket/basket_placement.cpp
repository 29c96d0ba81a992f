#include "ui/basket/basket_placement.h"

#include "core/settings/settings.h"

namespace {

// Not std::clamp: on a screen smaller than the window the bounds cross, and the far one wins.
int Keep(int at, int extent, int start, int length) {
    if (at < start) {
        at = start;
    }
    if (at > start + length - extent) {
        at = start + length - extent;
    }
    return at;
}

}  // namespace

QPoint KeepOnScreen(QPoint topLeft, QSize size, const QRect& screen) {
    return {Keep(topLeft.x(), size.width(), screen.x(), screen.width()),
            Keep(topLeft.y(), size.height(), screen.y(), screen.height())};
}

QPoint BasketHomePosition(QSize size, const QRect& screen) {
    const int above = (500 + TwipsPerPixel / 2) / TwipsPerPixel;
    return {screen.x() + screen.width() / 2 - size.width(),
            screen.y() + screen.height() / 2 - size.height() - above};
}
