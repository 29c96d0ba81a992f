#include "ui/main_window/list_pane.h"

#include <QBoxLayout>
#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTreeView>
#include <algorithm>

#include "core/text/text_table.h"
#include "ui/language/apply_language.h"
#include "ui/main_window/sortable_rows.h"

void SetUpList(QTreeView* view) {
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);  // keeps layout linear in the row count
    view->setAllColumnsShowFocus(true);
    view->setAlternatingRowColors(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->setTextElideMode(Qt::ElideMiddle);
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(true);
    header->setHighlightSections(false);
    // Unsorted, the list keeps its own order; a third click on a title returns to it.
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    view->setSortingEnabled(true);
}

void LayOutListPane(QWidget* pane, const QString& heading, int tag, const char* labelName,
                    QTreeView* view, QWidget* beside, QWidget* body) {
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* label = new QLabel(heading, pane);
    label->setObjectName(QLatin1String(labelName));
    SetTag(label, tag);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setBuddy(view);
    if (beside != nullptr) {
        auto* row = new QHBoxLayout;
        row->addWidget(label);
        row->addStretch(1);
        row->addWidget(beside);
        layout->addLayout(row);
    } else {
        layout->addWidget(label);
    }
    layout->addWidget(body != nullptr ? body : view, 1);
}

int ColumnWidth(const QTreeView* view, int column, const QStringList& samples) {
    const QFontMetrics itemFont(view->font());
    const QFontMetrics headerFont(view->header()->font());
    const QString title = view->model()->headerData(column, Qt::Horizontal).toString();
    int width = headerFont.horizontalAdvance(title) + 28;
    for (const QString& sample : samples) {
        width = std::max(width, itemFont.horizontalAdvance(sample) + 16);
    }
    return width;
}

QString SizeSample(const TextTable& texts) {
    return QStringLiteral("999.99 ") + texts.text(2);
}

QString DateSample() {
    const QLocale locale;
    return locale.toString(QDate(2028, 12, 28), QLocale::ShortFormat);
}

QTreeView* NewSortedList(const char* name, QAbstractItemModel* source, ListSortProxy* proxy,
                         const QList<int>& tags) {
    proxy->setSourceModel(source);
    auto* view = new QTreeView;
    view->setObjectName(QLatin1String(name));
    view->setModel(proxy);
    SetColumnTags(view, tags);
    SetUpList(view);
    return view;
}
