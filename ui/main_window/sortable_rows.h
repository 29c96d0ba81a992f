#pragma once

#include <QSortFilterProxyModel>

// A list model that compares its own rows by what they hold (bytes, dates, percentages), so
// sorting never goes through display texts or QVariant.
class SortableRows {
public:
    virtual ~SortableRows() = default;
    virtual bool rowLessThan(int left, int right, int column) const = 0;
};

// The sort proxy over such a model. Unsorted (the header's indicator cleared) it keeps the
// list's own order, slot by slot.
class ListSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setSourceModel(QAbstractItemModel* model) override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    const SortableRows* rows_ = nullptr;
};
