#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class ListSortProxy;
class QAbstractItemModel;
class QTreeView;
class QWidget;
class TextTable;

// What the main window's two lists share: how a list behaves, how it sits under its heading and
// how wide its fixed columns start.

// Rows selected whole, sortable by any column, the list's own order while unsorted.
void SetUpList(QTreeView* view);

// A list named `name` that shows `source` through `proxy` (which sorts it), its column titles
// the texts `tags`, set up as SetUpList does.
QTreeView* NewSortedList(const char* name, QAbstractItemModel* source, ListSortProxy* proxy,
                         const QList<int>& tags);

// Lays out `pane` as a list (in `body`, which may hold more) under its heading; `beside` (when
// given) sits at the right end of the heading's row.
void LayOutListPane(QWidget* pane, const QString& heading, int tag, const char* labelName,
                    QTreeView* view, QWidget* beside = nullptr, QWidget* body = nullptr);

// Room for the title (with the sort arrow) and for the widest of `samples`.
int ColumnWidth(const QTreeView* view, int column, const QStringList& samples);

// The widest size and date the lists are likely to show.
QString SizeSample(const TextTable& texts);
QString DateSample();
