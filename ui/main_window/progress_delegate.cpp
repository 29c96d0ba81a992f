#include "ui/main_window/progress_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include "ui/main_window/unfinished_list_model.h"

namespace {

// " (Downloading: 12.5%)" reads as "Downloading: 12.5%" on a bar.
QString BarText(QString text) {
    text = text.trimmed();
    if (text.startsWith(u'(') && text.endsWith(u')')) {
        text = text.mid(1, text.size() - 2);
    }
    return text;
}

}  // namespace

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const QVariant percent = index.data(UnfinishedListModel::PercentRole);
    if (!percent.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const QWidget* widget = cell.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    // The cell's background (selection, hover) first, without its text.
    cell.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const bool running =
        index.data(UnfinishedListModel::IconKeyRole).toString() == QLatin1String("stop");
    QStyleOptionProgressBar bar;
    bar.initFrom(widget);
    const int inset = std::max(1, option.rect.height() / 8);
    bar.rect = option.rect.adjusted(inset + 1, inset, -inset - 1, -inset);
    bar.minimum = 0;
    bar.maximum = 1000;
    bar.progress = std::clamp(qRound(percent.toDouble() * 10), 0, 1000);
    bar.text = BarText(index.data(Qt::DisplayRole).toString());
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.state = QStyle::State_Horizontal | QStyle::State_Enabled;
    bar.palette = option.palette;
    bar.palette.setCurrentColorGroup(QPalette::Active);
    if (!running) {
        // A neutral bar, its text as readable as any other cell's.
        bar.palette.setColor(QPalette::Highlight, option.palette.color(QPalette::Mid));
        bar.palette.setColor(QPalette::HighlightedText, option.palette.color(QPalette::Text));
    }
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}
