// The main window's status-line hints: what a control does, while the mouse is
// over it.

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <array>

#include "core/text/text_table.h"
#include "engine/engine_context.h"
#include "ui/main_window/kestor.h"
#include "update/version_file.h"

namespace {

// The interface text a control shows in the status line, kept with the control.
constexpr const char* kHint = "hint";

// The toolbar's hints by the button's place: the first seven name their
// command, the eighth (Resume) has text 138; the others only their tooltips.
constexpr int ToolbarHint(int index) {
    return index < 7 ? 130 + index : index == 7 ? 138 : 0;
}

}  // namespace

void Kestor::installHints() {
    const auto hint = [this](QWidget* widget, int number) {
        widget->setProperty(kHint, number);
        widget->installEventFilter(this);
    };
    hint(listView1_->viewport(), 666);
    // The finished list's hint comes with a press (finished_pane.cpp).
    const QList<QAction*> tools = toolbar_->actions();
    int index = 0;
    for (QAction* tool : tools) {
        if (tool->isSeparator()) {
            continue;
        }
        if (const int number = ToolbarHint(index++); number != 0) {
            hint(toolbar_->widgetForAction(tool), number);
        }
    }
    // The button row says what its command does, as the same tool's tooltip does.
    const std::array<int, CommandCount> rowHints = {160, 161, 167, 163, 166, 165, 164, 169, 162};
    for (int i = 0; i < CommandCount; ++i) {
        hint(buttons_[i], rowHints[i]);
    }
}

bool Kestor::hintEvent(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const int number = watched->property(kHint).toInt();
    if (number != 0 && (type == QEvent::Enter || type == QEvent::MouseButtonPress)) {
        Status(ctx_.texts.text(number));
    }
    // "Current downloads": a click on the heading puts the window away.
    if (watched == label1_ && type == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        showMinimized();
        return true;
    }
    return false;
}

bool Kestor::eventFilter(QObject* watched, QEvent* event) {
    if (hintEvent(watched, event) || listEvent(watched, event)) {
        return true;
    }
    if (watched == centralWidget() && event->type() == QEvent::MouseMove) {
        // Over the window's background: both links back to rest, the version in the
        // status.
        links_->rest();
        Status(QStringLiteral("Brenloft  v.") + QString::number(ProgramVersion));
    }
    return QMainWindow::eventFilter(watched, event);
}

QString Kestor::aboutText() const {
    return QStringLiteral("Brenloft!\n\n") + ctx_.texts.text(694) + QStringLiteral("\n\n") +
           ctx_.texts.text(801) + u' ' + QString::number(ProgramVersion) + QStringLiteral("\n\n") +
           ctx_.texts.text(238);
}

void Kestor::about() {
    QMessageBox box(QMessageBox::Information, QString(ctx_.texts.text(237)).remove(u'&'),
                    aboutText(), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.setTextFormat(Qt::PlainText);
    if (!windowIcon().isNull()) {
        box.setIconPixmap(windowIcon().pixmap(64, 64));
    }
    box.exec();
}
