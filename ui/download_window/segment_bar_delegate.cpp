#include "ui/download_window/segment_bar_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/download_window/segment_rows_model.h"

void SegmentBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    if (index.column() != SegmentRowsModel::Prog) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell's background (alternating rows) as the style draws it, then the bar over it.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const int margin = std::max(3, option.fontMetrics.height() / 4);
    const int height = std::max(6, option.fontMetrics.height() * 3 / 5);
    QRectF track = QRectF(option.rect).adjusted(margin, 0, -margin, 0);
    track.setTop(option.rect.top() + (option.rect.height() - height) / 2.0);
    track.setHeight(height);
    if (track.width() <= 0) {
        return;
    }
    const double fraction =
        std::clamp(index.data(SegmentRowsModel::FractionRole).toDouble(), 0.0, 1.0);
    QColor fill = index.data(SegmentRowsModel::BarColourRole).value<QColor>();
    if (!fill.isValid()) {
        fill = option.palette.color(QPalette::Highlight);
    }
    const qreal radius = height / 2.0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QColor groove = option.palette.color(QPalette::Mid);
    groove.setAlphaF(0.35f);
    painter->setPen(Qt::NoPen);
    painter->setBrush(groove);
    painter->drawRoundedRect(track, radius, radius);
    if (fraction > 0) {
        // Clip rather than shrink the rounded shape, so a small share still reads as a bar.
        QPainterPath shape;
        shape.addRoundedRect(track, radius, radius);
        painter->setClipPath(shape);
        QRectF done = track;
        done.setWidth(track.width() * fraction);
        painter->fillRect(done, fill);
    }
    painter->restore();
}

QSize SegmentBarDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), option.fontMetrics.height() * 8 / 5));
    return size;
}
