#include "ui/download_window/segment_rows_model.h"

#include <algorithm>

namespace {

// Numbers sit under the middle of their wide title, sizes line up on the right.
Qt::Alignment Alignment(int column) {
    switch (column) {
        case SegmentRowsModel::Num:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case SegmentRowsModel::Size:
            return Qt::AlignRight | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

}  // namespace

SegmentRowsModel::SegmentRowsModel(QObject* parent) : QAbstractTableModel(parent) {
    headers_ = {QStringLiteral("Segment #"), QStringLiteral("State"), QStringLiteral("Progress "),
                QStringLiteral("Size")};
}

void SegmentRowsModel::setRowCount(int count) {
    count = std::max(count, 0);
    const int old = int(rows_.size());
    if (count > old) {
        beginInsertRows({}, old, count - 1);
        for (int i = old; i < count; ++i) {
            SegmentRow row;
            row.number = i + 1;
            rows_.push_back(row);
        }
        endInsertRows();
    } else if (count < old) {
        beginRemoveRows({}, count, old - 1);
        rows_.resize(count);
        endRemoveRows();
    }
}

void SegmentRowsModel::setRow(int index, const SegmentRow& row, bool withColour) {
    if (index < 0 || index >= rows_.size()) {
        return;
    }
    SegmentRow& shown = rows_[index];
    const QColor colour = withColour && row.colour.isValid() ? row.colour : shown.colour;
    if (shown.number == row.number && shown.state == row.state && shown.size == row.size &&
        shown.fraction == row.fraction && shown.colour == colour) {
        return;
    }
    shown = row;
    shown.colour = colour;
    emit dataChanged(this->index(index, 0), this->index(index, ColumnCount - 1));
}

int SegmentRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int SegmentRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SegmentRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) {
        return {};
    }
    const SegmentRow& row = rows_[index.row()];
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        switch (column) {
            case Num:
                return row.number;
            case StateS:
                return row.state;
            case Size:
                return row.size;
            default:
                return {};
        }
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Alignment(column));
    }
    if (role == Qt::ToolTipRole && column == Prog) {
        return QStringLiteral("%1%").arg(int(row.fraction * 100));
    }
    if (role == FractionRole) {
        return row.fraction;
    }
    if (role == BarColourRole) {
        return row.colour;
    }
    return {};
}

bool SegmentRowsModel::setHeaderData(int section, Qt::Orientation orientation,
                                     const QVariant& value, int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size() ||
        (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return false;
    }
    headers_[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

QVariant SegmentRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return headers_[section];
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Alignment(section));
    }
    return {};
}
