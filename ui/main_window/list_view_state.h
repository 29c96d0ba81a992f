#pragma once

#include <QItemSelectionModel>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QTreeView>

// What a list shows before a rebuild, and putting it back after: the selected keys, the
// current one and the one at the top, so the rebuilt list looks as it did to the user. The
// views show their model through a sort proxy; the models find rows by key.

// The sort proxy's row for a source row, and back.
inline QModelIndex ViewIndex(const QTreeView* view, const QAbstractItemModel* source, int row) {
    const auto* proxy = static_cast<const QSortFilterProxyModel*>(view->model());
    return row < 0 ? QModelIndex() : proxy->mapFromSource(source->index(row, 0));
}

inline int SourceRow(const QTreeView* view, const QModelIndex& index) {
    const auto* proxy = static_cast<const QSortFilterProxyModel*>(view->model());
    return proxy->mapToSource(index).row();
}

struct ViewState {
    QStringList selected;
    QString current;
    QString top;
};

template <typename Model>
ViewState Remember(const QTreeView* view, const Model& model) {
    ViewState state;
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
        state.selected << model.keyAt(SourceRow(view, index));
    }
    const QModelIndex current = view->currentIndex();
    if (current.isValid()) {
        state.current = model.keyAt(SourceRow(view, current));
    }
    if (view->verticalScrollBar()->value() > 0) {
        const QModelIndex top = view->indexAt(QPoint(0, 0));
        if (top.isValid()) {
            state.top = model.keyAt(SourceRow(view, top));
        }
    }
    return state;
}

template <typename Model>
void Restore(QTreeView* view, const Model& model, const ViewState& state) {
    QItemSelectionModel* selection = view->selectionModel();
    if (!state.current.isEmpty()) {
        const QModelIndex current = ViewIndex(view, &model, model.rowOf(state.current));
        if (current.isValid()) {
            selection->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
        }
    }
    QItemSelection rows;
    for (const QString& key : state.selected) {
        const QModelIndex index = ViewIndex(view, &model, model.rowOf(key));
        if (index.isValid()) {
            rows.select(index, index);
        }
    }
    if (!rows.isEmpty()) {
        selection->select(rows, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    if (!state.top.isEmpty()) {
        const QModelIndex top = ViewIndex(view, &model, model.rowOf(state.top));
        if (top.isValid()) {
            view->scrollTo(top, QAbstractItemView::PositionAtTop);
        }
    }
}
