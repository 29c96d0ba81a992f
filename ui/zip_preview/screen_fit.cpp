#include "ui/zip_preview/screen_fit.h"

#include <QScreen>
#include <QWidget>

void ResizeToFitScreen(QWidget* window, QSize wanted) {
    const QScreen* screen = window->screen();
    if (screen == nullptr) {
        window->resize(wanted);
        return;
    }
    // The frame is unknown until the window manager has drawn it once: a title bar and
    // borders of two lines of text are kept free.
    const int frame = 2 * window->fontMetrics().height();
    const QSize room = screen->availableGeometry().size() - QSize(frame / 2, frame);
    // A layout that asks for more than the screen holds gives way (its lists scroll) rather
    // than push the window past the screen's edge.
    const QSize least = window->minimumSizeHint();
    if (least.width() > room.width() || least.height() > room.height()) {
        window->setMinimumSize(least.boundedTo(room));
    }
    window->resize(wanted.boundedTo(room));
}
