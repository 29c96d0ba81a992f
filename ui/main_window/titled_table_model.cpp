#include "ui/main_window/titled_table_model.h"

TitledTableModel::TitledTableModel(QStringList titles, QSet<int> rightAligned, QObject* parent)
    : QAbstractTableModel(parent),
      titles_(std::move(titles)),
      rightAligned_(std::move(rightAligned)) {}

QVariant TitledTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= titles_.size()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return titles_[section];
    }
    if (role == Qt::TextAlignmentRole) {
        return rightAligned_.contains(section) ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

bool TitledTableModel::setHeaderData(int section, Qt::Orientation orientation,
                                     const QVariant& value, int role) {
    // The language loader sets titles with the default role, EditRole.
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::EditRole) ||
        section < 0 || section >= titles_.size()) {
        return false;
    }
    titles_[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}
