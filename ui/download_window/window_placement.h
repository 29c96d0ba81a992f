#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a download window opens, in pixels: the `index`th window (0 for the first) of `size`
// within the screen's available area (its panels left out). Windows are laid side by side, row
// under row, from the area's top left; when the area is full they start over, moved a little
// down and right so that no window hides another exactly. A window larger than the area gets
// the area's top left.
QPoint DownloadWindowPosition(int index, QSize size, const QRect& available);
