#include "ui/download_window/window_placement.h"

#include <algorithm>

namespace {

constexpr int kGap = 8;
constexpr int kShift = 24;  // between one round of the area and the next

}  // namespace

QPoint DownloadWindowPosition(int index, QSize size, const QRect& available) {
    const int width = std::max(1, size.width());
    const int height = std::max(1, size.height());
    const int columns = std::max(1, (available.width() + kGap) / (width + kGap));
    const int rows = std::max(1, (available.height() + kGap) / (height + kGap));
    const int perRound = columns * rows;
    const int round = std::max(0, index) / perRound;
    const int place = std::max(0, index) % perRound;
    QPoint at(available.left() + (place % columns) * (width + kGap),
              available.top() + (place / columns) * (height + kGap));
    at += QPoint(kShift, kShift) * (round % 4);
    // Never past the area's right or bottom edge, and never before its left or top.
    at.setX(std::max(available.left(), std::min(at.x(), available.right() + 1 - width)));
    at.setY(std::max(available.top(), std::min(at.y(), available.bottom() + 1 - height)));
    return at;
}
