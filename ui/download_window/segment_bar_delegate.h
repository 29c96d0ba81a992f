#pragma once

#include <QStyledItemDelegate>

// Paints the progress column of the segment rows as a bar in the row's state colour; the
// other columns are drawn as usual. Rows get a little air so the bars do not touch.
class SegmentBarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
