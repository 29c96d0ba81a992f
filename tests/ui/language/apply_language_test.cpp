#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/text/text_table.h"
#include "tests/support/text_printer.h"
#include "ui/language/apply_language.h"

namespace {

// Every entry says its own number, so a wrong lookup shows in the failure message.
TextTable NumberedTable(int from, int to) {
    TextTable table;
    for (int n = from; n <= to; ++n) {
        table.set(n, QStringLiteral("T%1").arg(n));
    }
    return table;
}

QString T(int n) {
    return QStringLiteral("T%1").arg(n);
}

template <typename W>
W* Add(QWidget* parent, const QString& text, const QVariant& tag) {
    auto* w = new W(text, parent);
    parent->layout()->addWidget(w);
    w->setProperty(TagProperty, tag);
    return w;
}

QString Header(const QAbstractItemView* view, int column) {
    return view->model()->headerData(column, Qt::Horizontal).toString();
}

}  // namespace

TEST(TagNumbers, ReadLikeLanguageFileKeys) {
    EXPECT_EQ(TagNumber(QVariant(131)), 131);
    EXPECT_EQ(TagNumber(QVariant(QStringLiteral("131"))), 131);
    EXPECT_EQ(TagNumber(QVariant(QStringLiteral(" 131 caption"))), 131);
    EXPECT_EQ(TagNumber(QVariant(QStringLiteral("130.5"))), 130);
    EXPECT_EQ(TagNumber(QVariant(131.5)), 132);
    EXPECT_EQ(TagNumber(QVariant(QStringLiteral("abc"))), 0);
    EXPECT_EQ(TagNumber(QVariant(QString())), 0);
    EXPECT_EQ(TagNumber(QVariant()), 0);
    EXPECT_EQ(TagNumber(QVariant(1e30)), 0);
}

TEST(ApplyLanguage, CaptionsEveryKindOfControl) {
    const TextTable table = NumberedTable(100, 800);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("built in"));
    SetTag(&window, 695);
    auto* central = new QWidget(&window);
    central->setLayout(new QVBoxLayout);
    window.setCentralWidget(central);

    auto* push = Add<QPushButton>(central, QStringLiteral("push"), 696);
    push->setProperty(ToolTipTagProperty, 698);
    auto* check = Add<QCheckBox>(central, QStringLiteral("check"), QStringLiteral("657"));
    auto* radio = Add<QRadioButton>(central, QStringLiteral("radio"), QStringLiteral("abc"));
    auto* label = Add<QLabel>(central, QStringLiteral("label"), 658);
    auto* frame = Add<QGroupBox>(central, QStringLiteral("frame"), 659);
    auto* untagged = Add<QLabel>(central, QStringLiteral("untagged"), QVariant());
    auto* edit = Add<QLineEdit>(central, QStringLiteral("typed text"), 697);

    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("&File"));
    SetTag(menu, 600);
    QMenu* submenu = menu->addMenu(QStringLiteral("sub"));
    submenu->setProperty(TagProperty, QStringLiteral("601"));
    QAction* entry = menu->addAction(QStringLiteral("entry"));
    SetTag(entry, 602);
    QAction* deepEntry = submenu->addAction(QStringLiteral("deep"));
    SetTag(deepEntry, 603);
    // An entry parented elsewhere is still reached through the menu that shows it.
    QAction foreign(QStringLiteral("foreign"));
    SetTag(&foreign, 604);
    menu->addAction(&foreign);

    QToolBar* toolbar = window.addToolBar(QStringLiteral("bar"));
    QAction* remove = toolbar->addAction(QStringLiteral("remove"));
    SetTag(remove, 131);
    QAction* plain = toolbar->addAction(QStringLiteral("plain"));
    plain->setToolTip(QStringLiteral("plain tip"));

    auto* tree = new QTreeWidget(central);
    central->layout()->addWidget(tree);
    tree->setHeaderLabels({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    SetColumnTags(tree, {130, 0, 131});

    QStandardItemModel tableModel(0, 2);
    auto* tableView = new QTableView(central);
    central->layout()->addWidget(tableView);
    tableView->setModel(&tableModel);
    tableView->setProperty(ColumnTagsProperty,
                           QVariantList{QStringLiteral("140"), QStringLiteral("141")});

    // Views behind a sort proxy: the titles reach the model underneath.
    QStandardItemModel source(0, 3);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&source);
    auto* sorted = new QTreeView(central);
    central->layout()->addWidget(sorted);
    sorted->setModel(&proxy);
    SetColumnTags(sorted, {150, 151});  // fewer tags than columns

    auto* tabs = new QTabWidget(central);
    central->layout()->addWidget(tabs);
    tabs->addTab(new QWidget, QStringLiteral("one"));
    tabs->addTab(new QWidget, QStringLiteral("two"));
    tabs->addTab(new QWidget, QStringLiteral("three"));
    SetTabTags(tabs, {170, 0, 172, 173});  // more tags than tabs
    auto* tabBar = new QTabBar(central);
    central->layout()->addWidget(tabBar);
    tabBar->addTab(QStringLiteral("first"));
    tabBar->addTab(QStringLiteral("second"));
    tabBar->setProperty(TabTagsProperty, QVariantList{0, QStringLiteral("181")});

    ApplyLanguage(&window, table);

    EXPECT_EQ(window.windowTitle(), T(695));
    EXPECT_EQ(push->text(), T(696));
    EXPECT_EQ(push->toolTip(), T(698));
    EXPECT_EQ(check->text(), T(657));
    EXPECT_EQ(radio->text(), QStringLiteral("radio"));
    EXPECT_EQ(label->text(), T(658));
    EXPECT_EQ(frame->title(), T(659));
    EXPECT_EQ(untagged->text(), QStringLiteral("untagged"));
    EXPECT_EQ(edit->text(), QStringLiteral("typed text"));

    EXPECT_EQ(menu->title(), T(600));
    EXPECT_EQ(submenu->title(), T(601));
    EXPECT_EQ(entry->text(), T(602));
    EXPECT_EQ(deepEntry->text(), T(603));
    EXPECT_EQ(foreign.text(), T(604));

    EXPECT_EQ(remove->text(), T(131));
    EXPECT_EQ(remove->toolTip(), T(161));
    EXPECT_EQ(plain->text(), QStringLiteral("plain"));
    EXPECT_EQ(plain->toolTip(), QStringLiteral("plain tip"));

    EXPECT_EQ(tree->headerItem()->text(0), T(130));
    EXPECT_EQ(tree->headerItem()->text(1), QStringLiteral("b"));
    EXPECT_EQ(tree->headerItem()->text(2), T(131));
    EXPECT_EQ(tree->columnCount(), 3);
    EXPECT_EQ(Header(tableView, 0), T(140));
    EXPECT_EQ(Header(tableView, 1), T(141));
    EXPECT_EQ(source.headerData(0, Qt::Horizontal).toString(), T(150));
    EXPECT_EQ(source.headerData(1, Qt::Horizontal).toString(), T(151));
    EXPECT_EQ(source.headerData(2, Qt::Horizontal).toString(), QStringLiteral("3"));

    EXPECT_EQ(tabs->tabText(0), T(170));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("two"));
    EXPECT_EQ(tabs->tabText(2), T(172));
    EXPECT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabBar->tabText(0), QStringLiteral("first"));
    EXPECT_EQ(tabBar->tabText(1), T(181));
}

TEST(ApplyLanguage, BadTagsSpoilOnlyTheirOwnControl) {
    TextTable table = NumberedTable(1, TextTable::Size - 1);
    table.set(750, QString());  // an entry no language file defined
    QWidget window;
    window.setLayout(new QVBoxLayout);
    window.setWindowTitle(QStringLiteral("built in"));
    SetTag(&window, -1);  // only a positive tag captions the window

    auto* negative = Add<QLabel>(&window, QStringLiteral("negative"), -3);
    auto* pastTable = Add<QPushButton>(&window, QStringLiteral("past"), TextTable::Size + 5);
    auto* undefined = Add<QPushButton>(&window, QStringLiteral("undefined"), 750);
    auto* after = Add<QLabel>(&window, QStringLiteral("after"), 700);
    auto* toolbar = new QToolBar(&window);
    window.layout()->addWidget(toolbar);
    QAction* nearEnd = toolbar->addAction(QStringLiteral("near end"));
    nearEnd->setToolTip(QStringLiteral("old tip"));
    SetTag(nearEnd, TextTable::Size - 10);  // its tooltip's entry lies past the table
    QAction* negativeButton = toolbar->addAction(QStringLiteral("negative button"));
    SetTag(negativeButton, -131);

    ApplyLanguage(&window, table);

    EXPECT_EQ(window.windowTitle(), QStringLiteral("built in"));
    EXPECT_EQ(negative->text(), QStringLiteral("negative"));
    EXPECT_EQ(pastTable->text(), QStringLiteral("past"));
    EXPECT_EQ(undefined->text(), QString());
    EXPECT_EQ(after->text(), T(700));
    EXPECT_EQ(nearEnd->text(), T(TextTable::Size - 10));
    EXPECT_EQ(nearEnd->toolTip(), QStringLiteral("old tip"));
    EXPECT_EQ(negativeButton->text(), QStringLiteral("negative button"));
}

TEST(ApplyLanguage, LeavesWindowsOfTheirOwnToTheirOwnCall) {
    const TextTable table = NumberedTable(100, 900);
    QWidget window;
    window.setLayout(new QVBoxLayout);
    auto* mine = Add<QLabel>(&window, QStringLiteral("mine"), 405);
    auto* dialog = new QDialog(&window);
    dialog->setLayout(new QVBoxLayout);
    dialog->setWindowTitle(QStringLiteral("dialog"));
    SetTag(dialog, 806);
    auto* theirs = Add<QLabel>(dialog, QStringLiteral("theirs"), 807);

    ApplyLanguage(&window, table);
    EXPECT_EQ(mine->text(), T(405));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("dialog"));
    EXPECT_EQ(theirs->text(), QStringLiteral("theirs"));

    ApplyLanguage(dialog, table);
    EXPECT_EQ(dialog->windowTitle(), T(806));
    EXPECT_EQ(theirs->text(), T(807));
}

TEST(ReapplyLanguage, LanguageSwitchRecaptionsTheOpenWindows) {
    TextTable table;
    table.loadText(QStringLiteral("695=Enter the URL\n696=Download Now !\n698=Cancel\n"));
    QWidget first;
    first.setLayout(new QVBoxLayout);
    SetTag(&first, 695);
    auto* now = Add<QPushButton>(&first, QString(), 696);
    auto* cancel = Add<QPushButton>(&first, QString(), 698);
    QWidget second;
    second.setLayout(new QVBoxLayout);
    auto* secondCancel = Add<QPushButton>(&second, QString(), 698);
    QWidget notListed;
    notListed.setLayout(new QVBoxLayout);
    auto* notListedCancel = Add<QPushButton>(&notListed, QString(), 698);
    first.show();
    second.show();
    ReapplyLanguage({&first, &second, &notListed}, table);
    ASSERT_EQ(cancel->text(), QStringLiteral("Cancel"));

    // The new language is read on top: what it leaves out keeps the old text.
    table.loadText(QStringLiteral("695=Saisissez l'URL\n698=Annuler\n"));
    ReapplyLanguage({&first, nullptr, &second}, table);

    EXPECT_EQ(first.windowTitle(), QStringLiteral("Saisissez l'URL"));
    EXPECT_EQ(now->text(), QStringLiteral("Download Now !"));
    EXPECT_EQ(cancel->text(), QStringLiteral("Annuler"));
    EXPECT_EQ(secondCancel->text(), QStringLiteral("Annuler"));
    EXPECT_EQ(notListedCancel->text(), QStringLiteral("Cancel"));
}
