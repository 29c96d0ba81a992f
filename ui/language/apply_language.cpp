#include "ui/language/apply_language.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QWidget>
#include <cmath>
#include <limits>

#include "core/text/text_table.h"
#include "core/types/vb_convert.h"

namespace {

// A number that names no entry (negative, past the table) is an error on that one control: it
// keeps its caption and the others carry on.
bool Names(int number) {
    return number > 0 && number < TextTable::Size;
}

int TagOf(const QObject* object) {
    return TagNumber(object->property(TagProperty));
}

QList<int> TagList(const QObject* object, const char* property) {
    QList<int> numbers;
    const QVariant value = object->property(property);
    if (value.isValid()) {
        for (const QVariant& tag : value.value<QVariantList>()) {
            numbers << TagNumber(tag);
        }
    }
    return numbers;
}

// Dialogs and other windows parented to this one carry their own captions; menus and floating
// toolbars are windows too for Qt, but belong to the window they sit in.
bool IsWindowOfItsOwn(const QWidget* widget) {
    const Qt::WindowType type = widget->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet;
}

class Applier {
public:
    explicit Applier(const TextTable& texts) : texts_(texts) {}

    void window(QWidget* window) {
        const int tag = TagOf(window);
        if (Names(tag)) {
            window->setWindowTitle(texts_.text(tag));
        }
        widget(window);
        walk(window);
    }

private:
    void walk(QObject* parent) {
        for (QObject* child : parent->children()) {
            if (auto* w = qobject_cast<QWidget*>(child)) {
                if (!IsWindowOfItsOwn(w)) {
                    widget(w);
                    walk(w);
                }
            } else if (auto* a = qobject_cast<QAction*>(child)) {
                menuEntry(a);
            }
        }
    }

    void widget(QWidget* w) {
        if (const int tip = TagNumber(w->property(ToolTipTagProperty)); Names(tip)) {
            w->setToolTip(texts_.text(tip));
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            caption(w, [button](const QString& t) { button->setText(t); });
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            caption(w, [label](const QString& t) { label->setText(t); });
        } else if (auto* frame = qobject_cast<QGroupBox*>(w)) {
            caption(w, [frame](const QString& t) { frame->setTitle(t); });
        } else if (auto* menu = qobject_cast<QMenu*>(w)) {
            caption(w, [menu](const QString& t) { menu->setTitle(t); });
            entries(menu->actions());
        } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            entries(bar->actions());
        } else if (auto* toolbar = qobject_cast<QToolBar*>(w)) {
            // Its title names it in the menu that shows and hides toolbars.
            caption(w, [toolbar](const QString& t) { toolbar->setWindowTitle(t); });
            toolbarButtons(toolbar);
        } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
            columns(view);
        } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            const QList<int> tags = TagList(tabs, TabTagsProperty);
            for (int i = 0; i < tags.size() && i < tabs->count(); ++i) {
                if (Names(tags[i])) {
                    tabs->setTabText(i, texts_.text(tags[i]));
                }
            }
        } else if (auto* tabBar = qobject_cast<QTabBar*>(w)) {
            const QList<int> tags = TagList(tabBar, TabTagsProperty);
            for (int i = 0; i < tags.size() && i < tabBar->count(); ++i) {
                if (Names(tags[i])) {
                    tabBar->setTabText(i, texts_.text(tags[i]));
                }
            }
        }
    }

    template <typename Set>
    void caption(const QObject* object, Set set) {
        const int tag = TagOf(object);
        if (Names(tag)) {
            set(texts_.text(tag));
        }
    }

    // Menu entries may be parented anywhere; each is done once however it is reached.
    void entries(const QList<QAction*>& actions) {
        for (QAction* a : actions) {
            menuEntry(a);
        }
    }

    void menuEntry(QAction* action) {
        if (doneEntries_.contains(action)) {
            return;
        }
        doneEntries_.insert(action);
        caption(action, [action](const QString& t) { action->setText(t); });
    }

    void toolbarButtons(QToolBar* toolbar) {
        for (QAction* a : toolbar->actions()) {
            const int tag = TagOf(a);
            if (Names(tag)) {
                a->setText(texts_.text(tag));
                if (Names(tag + ToolTipOffset)) {
                    a->setToolTip(texts_.text(tag + ToolTipOffset));
                }
            }
        }
    }

    void columns(QAbstractItemView* view) {
        QAbstractItemModel* model = view->model();
        if (model == nullptr) {
            return;
        }
        const QList<int> tags = TagList(view, ColumnTagsProperty);
        for (int column = 0; column < tags.size() && column < model->columnCount(); ++column) {
            if (Names(tags[column])) {
                model->setHeaderData(column, Qt::Horizontal, texts_.text(tags[column]));
            }
        }
    }

    const TextTable& texts_;
    QSet<QAction*> doneEntries_;
};

}  // namespace

int TagNumber(const QVariant& tag) {
    if (!tag.isValid() || tag.isNull()) {
        return 0;
    }
    long double number = 0;
    const int type = tag.typeId();
    if (type == QMetaType::QString || type == QMetaType::QByteArray) {
        number = LeadingNumber(tag.toString());
    } else {
        bool ok = false;
        number = tag.toDouble(&ok);
        if (!ok) {
            return 0;
        }
    }
    number = RoundHalfEven(number);
    if (!std::isfinite(number) || number > std::numeric_limits<int>::max() ||
        number < std::numeric_limits<int>::min()) {
        return 0;
    }
    return static_cast<int>(number);
}

void SetTag(QObject* object, int number) {
    object->setProperty(TagProperty, number);
}

namespace {

QVariantList ToVariants(const QList<int>& numbers) {
    QVariantList list;
    for (int n : numbers) {
        list << n;
    }
    return list;
}

}  // namespace

void SetColumnTags(QObject* view, const QList<int>& numbers) {
    view->setProperty(ColumnTagsProperty, ToVariants(numbers));
}

void SetTabTags(QObject* tabs, const QList<int>& numbers) {
    tabs->setProperty(TabTagsProperty, ToVariants(numbers));
}

void ApplyLanguage(QWidget* window, const TextTable& texts) {
    if (window != nullptr) {
        Applier(texts).window(window);
    }
}

void ReapplyLanguage(const QList<QWidget*>& windows, const TextTable& texts) {
    for (QWidget* window : windows) {
        ApplyLanguage(window, texts);
        if (window != nullptr) {
            QEvent changed(QEvent::LanguageChange);
            QCoreApplication::sendEvent(window, &changed);
        }
    }
}
