#pragma once

#include <QStyledItemDelegate>

// Paints the state column of the unfinished downloads as a progress bar carrying the state
// text, for the rows that show a percentage; a paused row's bar is grey. Other cells are drawn
// as usual.
class ProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
