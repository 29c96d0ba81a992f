#include "ui/basket/basket_placement.h"

#include <QGuiApplication>
#include <QScreen>

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

// How far `point` is from `rect` (0 inside), squared: enough to compare.
qint64 DistanceSquared(QPoint point, const QRect& rect) {
    const qint64 dx = point.x() < rect.left()    ? rect.left() - point.x()
                      : point.x() > rect.right() ? point.x() - rect.right()
                                                 : 0;
    const qint64 dy = point.y() < rect.top()      ? rect.top() - point.y()
                      : point.y() > rect.bottom() ? point.y() - rect.bottom()
                                                  : 0;
    return dx * dx + dy * dy;
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

QList<QRect> ScreenGeometries() {
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->geometry());
    }
    return screens;
}

QRect NearestScreen(QPoint point, const QList<QRect>& screens) {
    QRect nearest;
    qint64 best = -1;
    for (const QRect& screen : screens) {
        const qint64 distance = DistanceSquared(point, screen);
        if (best < 0 || distance < best) {
            best = distance;
            nearest = screen;
        }
    }
    return nearest;
}

QPoint PlaceOnScreens(const QRect& window, const QList<QRect>& screens) {
    const QPoint middle = window.center();
    const QRect screen = NearestScreen(middle, screens);
    if (screen.isEmpty() || screen.contains(middle)) {
        return window.topLeft();
    }
    return KeepOnScreen(window.topLeft(), window.size(), screen);
}
