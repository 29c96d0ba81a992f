#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <QStringList>
#include <QVector>

// One line per segment of the download window, as last drawn: the window decides when a row is
// redrawn (never while minimised), so the model keeps what was shown rather than reading the
// record itself.
struct SegmentRow {
    int number = 0;
    QString state;
    QString size;
    double fraction = 0;  // of the segment's bytes stored, 0 to 1
    QColor colour;        // of the bar; invalid until a state that has one was drawn
};

class SegmentRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Num, StateS, Prog, Size, ColumnCount };
    enum Role { FractionRole = Qt::UserRole, BarColourRole };

    explicit SegmentRowsModel(QObject* parent = nullptr);

    // Rows for the segments in use; rows kept keep what they showed, new ones show only their
    // number.
    void setRowCount(int count);
    // Redraws one row; the bar keeps its colour unless `withColour`.
    void setRow(int index, const SegmentRow& row, bool withColour);
    const SegmentRow& row(int index) const { return rows_[index]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The language loader replaces the column titles.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role) override;

private:
    QVector<SegmentRow> rows_;
    QStringList headers_;
};
