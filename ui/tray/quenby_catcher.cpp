#include "ui/tray/quenby_catcher.h"

#include <QAction>
#include <QMenu>

#include "ui/language/apply_language.h"
#include "ui/tray/program_icons.h"

namespace {

// What a tray shows of a tip: 63 characters, a 64th being the record's terminator.
constexpr int kTipLength = 63;

}  // namespace

QuenbyCatcher::QuenbyCatcher(const TextTable& texts, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("QuenbyCatcher"));
    setWindowTitle(QStringLiteral("BrenloftCatcher"));
    SetTag(this, 704);
    setWindowIcon(ProgramIcon());
    for (int level = 1; level <= 4; ++level) {
        Picture1[level - 1] = SpeedIcon(level);
    }

    pop_ = new QMenu(this);
    pop_->setObjectName(QStringLiteral("pop"));
    openwin_ = entry("openwin", "&Open Quenby!", 700, &QuenbyCatcher::openRequested);
    entry("pauseall", "&Pause all downloads", 701, &QuenbyCatcher::pauseAllRequested);
    entry("resumeall", "&Resume all downloads", 702, &QuenbyCatcher::resumeAllRequested);
    pop_->addSeparator()->setObjectName(QStringLiteral("b"));
    closebasket_ = entry("closebasket", "&Close Basket", 805, &QuenbyCatcher::closeBasketRequested);
    closebasket_->setVisible(false);
    entry("exitmenu", "&Exit", 703, &QuenbyCatcher::exitRequested);
    pop_->setDefaultAction(openwin_);
    // Queued: the entry chosen in the menu is triggered after the menu has hidden, and must
    // still be there to be triggered.
    connect(
        pop_, &QMenu::aboutToHide, this, [this] { closebasket_->setVisible(false); },
        Qt::QueuedConnection);

    // The first tip is the caption the window has before the language is applied.
    tip_ = windowTitle();
    icon_ = new QSystemTrayIcon(ProgramIcon(), this);
    icon_->setToolTip(tip_);
    // The tray opens the menu itself on a right click (the notification-area protocols have
    // their own ways of showing it), so the Context activation needs nothing from us.
    icon_->setContextMenu(pop_);
    connect(icon_, &QSystemTrayIcon::activated, this, &QuenbyCatcher::iconActivated);
    // Shown even while no tray runs: the icon docks when a tray appears, as when the program
    // starts with the session before the panel.
    icon_->show();

    ApplyLanguage(this, texts);
}

QuenbyCatcher::~QuenbyCatcher() {
    icon_->hide();
}

QAction* QuenbyCatcher::entry(const char* name, const char* caption, int tag,
                              void (QuenbyCatcher::*ask)()) {
    auto* a = new QAction(QString::fromUtf8(caption), this);
    a->setObjectName(QLatin1String(name));
    SetTag(a, tag);
    connect(a, &QAction::triggered, this, [this, ask] { (this->*ask)(); });
    pop_->addAction(a);
    return a;
}

void QuenbyCatcher::refreshMessage(const QString& text) {
    QString tip = text.left(kTipLength);
    // Half a character would show as a box.
    if (!tip.isEmpty() && tip.back().isHighSurrogate()) {
        tip.chop(1);
    }
    // The timer sends the same tip twice a second; a tray redraws on every change.
    if (tip != tip_) {
        tip_ = tip;
        icon_->setToolTip(tip_);
    }
}

void QuenbyCatcher::refreshIcon(int level) {
    if (level < 0 || level > 4 || level == level_) {
        return;
    }
    level_ = level;
    icon_->setIcon(level == 0 ? windowIcon() : Picture1[level - 1]);
}

void QuenbyCatcher::showMenu(const QPoint& at, bool fromBasket) {
    closebasket_->setVisible(fromBasket);
    pop_->popup(at);
}

void QuenbyCatcher::iconActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
        emit openRequested();
    }
}
