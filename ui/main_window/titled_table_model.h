#pragma once

#include <QAbstractTableModel>
#include <QSet>
#include <QStringList>

// A table model whose column titles the language loader may replace, with numbers right-aligned.
class TitledTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role) override;

protected:
    TitledTableModel(QStringList titles, QSet<int> rightAligned, QObject* parent);

private:
    QStringList titles_;
    QSet<int> rightAligned_;
};
