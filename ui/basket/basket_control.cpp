#include "ui/basket/basket_control.h"

#include <QAction>

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
}

BasketControl::~BasketControl() = default;

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
