// The main window in French: every caption it shows comes from the French texts.

#include <QAbstractButton>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QToolBar>

#include "tests/ui/main_window/main_window_fixture.h"

namespace main_window_test {
namespace {

// The texts a language file defines, as the program shows them (trimmed).
QSet<QString> FileTexts(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QSet<QString> texts;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const qsizetype equals = line.indexOf(u'=');
        if (!line.startsWith(QLatin1String("//")) && equals > 0) {
            texts.insert(line.mid(equals + 1).trimmed());
        }
    }
    return texts;
}

// Every caption a user can read in the window without opening a dialog: menus and their
// entries, buttons, labels, toolbar buttons and their tooltips, the lists' column titles.
QStringList Captions(const Kestor& w) {
    QStringList captions;
    for (const QAction* a : w.findChildren<QAction*>()) {
        if (!a->isSeparator() && !a->text().isEmpty() && a->menu() == nullptr) {
            captions << a->text();
        }
    }
    for (const QMenu* m : w.findChildren<QMenu*>()) {
        if (!m->title().isEmpty()) {
            captions << m->title();
        }
    }
    for (const QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
        if (!b->text().isEmpty()) {
            captions << b->text();
        }
    }
    for (const QToolBar* t : w.findChildren<QToolBar*>()) {
        captions << t->windowTitle();
        for (const QAction* a : t->actions()) {
            if (!a->isSeparator()) {
                captions << a->toolTip();
            }
        }
    }
    for (QString& c : captions) {
        c = c.trimmed();
    }
    for (const QLabel* l : w.findChildren<QLabel*>()) {
        // The status line holds messages, not captions.
        if (!l->text().isEmpty() && !l->objectName().startsWith(QLatin1String("Panel"))) {
            captions << l->text();
        }
    }
    for (const QTreeView* v : {w.listView1(), w.listView2()}) {
        for (int c = 0; c < v->model()->columnCount(); ++c) {
            captions << v->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        }
    }
    return captions;
}

TEST_F(MainWindowTest, TheFrenchWindowHasNoEnglishCaptionLeft) {
    ASSERT_TRUE(
        LoadLanguage(texts, QStringLiteral("francais"), {SourcePath(QStringLiteral("data/lang"))}));
    const QSet<QString> french = FileTexts(SourcePath(QStringLiteral("data/lang/francais.txt")));
    Kestor& w = open();
    const QStringList captions = Captions(w);
    EXPECT_GT(captions.size(), 60);
    QStringList english;
    for (const QString& caption : captions) {
        // Signs (the preview's ">" and "<") are no language's.
        const bool words =
            std::any_of(caption.begin(), caption.end(), [](QChar c) { return c.isLetter(); });
        if (words && !french.contains(caption)) {
            english << caption;
        }
    }
    EXPECT_TRUE(english.isEmpty()) << english.join(QStringLiteral(" | ")).toStdString();
}

}  // namespace
}  // namespace main_window_test
