#include "tests/ui/prompts/prompt_test_support.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTimer>

#include "tests/support/sandbox.h"

TextTable NumberedTable() {
    TextTable table;
    for (int n = 1; n < TextTable::Size; ++n) {
        table.set(n, Entry(n));
    }
    return table;
}

QString Entry(int number) {
    return QStringLiteral("T%1").arg(number);
}

namespace {

// exec() shows its window before it runs its loop, so the first rounds already find it.
constexpr int PollLimit = 1000;

void Poll(const std::function<void(QDialog*)>& act, int tries) {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
        if (tries < PollLimit) {
            QTimer::singleShot(0, [act, tries] { Poll(act, tries + 1); });
        } else {
            ADD_FAILURE() << "no modal window opened";
        }
        return;
    }
    act(dialog);
    QPointer<QDialog> guard(dialog);
    QTimer::singleShot(0, [guard] {
        if (guard && guard->isVisible()) {
            ADD_FAILURE() << "the modal window stayed open";
            guard->done(QDialog::Rejected);
        }
    });
}

}  // namespace

void WhenModalOpens(std::function<void(QDialog*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] { Poll(act, 0); });
}

bool WaitUntilDeleted(const std::function<bool(QWidget*)>& matches) {
    return WaitFor([&] {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (matches(w)) {
                return false;
            }
        }
        return true;
    });
}
