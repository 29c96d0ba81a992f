#include "ui/main_window/flex_column.h"

#include <QEvent>
#include <QHeaderView>
#include <QTreeView>

FlexColumns::FlexColumns(QTreeView* view, QList<Column> columns)
    : QObject(view), view_(view), viewport_(view->viewport()), columns_(std::move(columns)) {
    QHeaderView* header = view->header();
    for (const Column& c : columns_) {
        header->setSectionResizeMode(c.column, QHeaderView::Fixed);
    }
    viewport_->installEventFilter(this);
    connect(header, &QHeaderView::sectionResized, this, [this](int logical, int, int) {
        if (!fitting_ && !isFlexible(logical)) {
            fit();
        }
    });
}

bool FlexColumns::isFlexible(int column) const {
    for (const Column& c : columns_) {
        if (c.column == column) {
            return true;
        }
    }
    return false;
}

void FlexColumns::fit() {
    QHeaderView* header = view_->header();
    int others = 0;
    int weights = 0;
    for (int i = 0; i < header->count(); ++i) {
        if (!isFlexible(i) && !header->isSectionHidden(i)) {
            others += header->sectionSize(i);
        }
    }
    for (const Column& c : columns_) {
        weights += c.weight;
    }
    int left = std::max(0, viewport_->width() - others);
    int weightLeft = weights;
    fitting_ = true;
    for (const Column& c : columns_) {
        // The last one takes what rounding left over.
        const int share = weightLeft == c.weight ? left : left * c.weight / std::max(1, weightLeft);
        const int width = std::max(c.minimum, share);
        left = std::max(0, left - width);
        weightLeft -= c.weight;
        if (width != header->sectionSize(c.column)) {
            header->resizeSection(c.column, width);
        }
    }
    fitting_ = false;
}

bool FlexColumns::eventFilter(QObject* watched, QEvent* event) {
    // Compared, never called: the view may be on its way out when its viewport reports.
    if (watched == viewport_ && event->type() == QEvent::Resize) {
        fit();
    }
    return QObject::eventFilter(watched, event);
}
