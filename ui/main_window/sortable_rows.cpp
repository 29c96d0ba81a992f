#include "ui/main_window/sortable_rows.h"

void ListSortProxy::setSourceModel(QAbstractItemModel* model) {
    rows_ = dynamic_cast<const SortableRows*>(model);
    QSortFilterProxyModel::setSourceModel(model);
}

bool ListSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (rows_ == nullptr) {
        return QSortFilterProxyModel::lessThan(left, right);
    }
    return rows_->rowLessThan(left.row(), right.row(), left.column());
}
