#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Where the drop basket and the main window may be, in pixels.

// The place of a window of `size` moved to `topLeft`, kept within `screen`: a left or top
// edge before the screen's becomes the screen's; one beyond the screen's extent less the
// window's becomes that limit (which wins on a screen smaller than the window).
QPoint KeepOnScreen(QPoint topLeft, QSize size, const QRect& screen);

// The first place of a basket of `size` without a saved one: its left half the screen's
// width less its width, its top half the screen's height less its height and 500 twips.
QPoint BasketHomePosition(QSize size, const QRect& screen);

// The geometry of every screen the desktop has now.
QList<QRect> ScreenGeometries();

// The screen that holds `point`, else the one nearest to it; an empty rectangle without screens.
QRect NearestScreen(QPoint point, const QList<QRect>& screens);

// Where a window saved at `window` opens: where it was while its middle is on a screen, else
// kept within the screen nearest to its middle (a screen unplugged since, a smaller desktop),
// so that it is never out of reach.
QPoint PlaceOnScreens(const QRect& window, const QList<QRect>& screens);
