#pragma once

#include <QApplication>
#include <QDialog>
#include <QList>
#include <QString>
#include <functional>
#include <ostream>

#include "core/text/text_table.h"
#include "tests/support/text_printer.h"

// Every entry says its own number, so a caption from the wrong entry shows in the failure.
TextTable NumberedTable();
QString Entry(int number);

// Acts on the modal window that the code under test is about to exec(), from the event loop
// that exec() runs. A window that never comes, or stays open after `act`, fails the test
// rather than hanging it.
void WhenModalOpens(std::function<void(QDialog*)> act);

// The windows of this kind that are on screen now.
template <typename W>
QList<W*> ShownWindows() {
    QList<W*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<W*>(w); window != nullptr && w->isVisible()) {
            found << window;
        }
    }
    return found;
}

// Runs the event loop, deletions included, until no window of this kind exists any more.
bool WaitUntilDeleted(const std::function<bool(QWidget*)>& matches);

template <typename W>
bool WaitUntilNoneLeft() {
    return WaitUntilDeleted([](QWidget* w) { return qobject_cast<W*>(w) != nullptr; });
}
