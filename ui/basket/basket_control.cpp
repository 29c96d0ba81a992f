#include "ui/basket/basket_control.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEvent>

#include "ui/basket/download_basket.h"
#include "ui/tray/quenby_catcher.h"

BasketControl::BasketControl(QAction& sdb, QuenbyCatcher& catcher, SettingsStore& store, AddUrl add,
                             QObject* parent)
    : QObject(parent), sdb_(&sdb), catcher_(catcher), store_(store), add_(std::move(add)) {
    sdb.setCheckable(true);
    connect(&sdb, &QAction::toggled, this, &BasketControl::setShown);
    connect(&catcher, &QuenbyCatcher::closeBasketRequested, this, &BasketControl::putAway);
    if (sdb.isChecked()) {
        setShown(true);
    }
    qApp->installEventFilter(this);
}

BasketControl::~BasketControl() {
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
    }
}

bool BasketControl::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::Hide && type != QEvent::Destroy) {
        return false;
    }
    if (type == QEvent::Destroy || type == QEvent::Hide) {
        if (openDialogs_.remove(watched) && openDialogs_.isEmpty()) {
            keepAbove(true);
        }
        return false;
    }
    const auto* dialog = qobject_cast<QDialog*>(watched);
    if (dialog != nullptr && dialog->isWindow()) {
        const bool first = openDialogs_.isEmpty();
        openDialogs_.insert(watched);
        if (first) {
            keepAbove(false);
        }
    }
    return false;
}

// Staying on top is a window flag; changing it re-creates the window, which shows again where
// it was, without taking the focus from the dialog.
void BasketControl::keepAbove(bool above) {
    if (!basket_ || basket_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == above) {
        return;
    }
    const bool shown = basket_->isVisible();
    const QPoint at = basket_->pos();
    basket_->setWindowFlag(Qt::WindowStaysOnTopHint, above);
    basket_->move(at);
    if (shown) {
        basket_->show();
        if (!above) {
            basket_->lower();
        }
    }
}

void BasketControl::setShown(bool shown) {
    if (!shown) {
        if (basket_) {
            basket_->hide();
        }
        return;
    }
    if (!basket_) {
        // Its own window, not the main window's: it stays while the main window is away.
        basket_ = std::make_unique<DownloadBasket>();
        basket_->setAttribute(Qt::WA_ShowWithoutActivating);
        if (!openDialogs_.isEmpty()) {
            basket_->setWindowFlag(Qt::WindowStaysOnTopHint, false);
        }
        basket_->placeOnLoad(store_);
        connect(basket_.get(), &DownloadBasket::urlDropped, this, [this](const QString& url) {
            if (add_) {
                add_(url);
            }
        });
        connect(basket_.get(), &DownloadBasket::menuRequested, this,
                [this](const QPoint& at) { catcher_.showMenu(at, true); });
        connect(basket_.get(), &DownloadBasket::closeRequested, this, &BasketControl::putAway);
    }
    basket_->show();
    basket_->raise();
}

void BasketControl::putAway() {
    // Through the check mark, so that the entry and the basket cannot disagree.
    if (sdb_) {
        sdb_->setChecked(false);
    } else {
        setShown(false);
    }
}

void BasketControl::savePosition() {
    if (basket_) {
        basket_->savePosition(store_);
    }
}
