#pragma once

#include <QList>
#include <QObject>

class QTreeView;
class QWidget;

// Shares the width that the other columns of a list leave among a few columns, by weight, each
// never below its minimum: the list fills its width at any window size and the names stay
// readable in a small window. The other columns keep whatever width the user gives them.
class FlexColumns : public QObject {
    Q_OBJECT
public:
    struct Column {
        int column;
        int weight;
        int minimum;
    };

    FlexColumns(QTreeView* view, QList<Column> columns);

    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isFlexible(int column) const;

    QTreeView* view_;
    QWidget* viewport_;
    QList<Column> columns_;
    bool fitting_ = false;
};
