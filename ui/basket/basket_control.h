#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <functional>
#include <memory>

class DownloadBasket;
class QAction;
class QuenbyCatcher;
class SettingsStore;

// The drop basket as the rest of the program sees it: shown exactly while the main window's
// checkable `sdb` entry is checked (its `Command5` button checks it, the tray menu's
// closebasket unchecks it), created on first use, its addresses handed to `add`, its right
// click opening the tray menu. It stays above other windows, except while one of the program's
// dialogs is open: then it steps back so that no prompt or message box opens under it.
class BasketControl : public QObject {
    Q_OBJECT
public:
    using AddUrl = std::function<void(const QString& url)>;

    BasketControl(QAction& sdb, QuenbyCatcher& catcher, SettingsStore& store, AddUrl add,
                  QObject* parent = nullptr);
    ~BasketControl() override;

    // Its place into the store, when it has one; the caller syncs.
    void savePosition();

    DownloadBasket* basket() const { return basket_.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void keepAbove(bool above);
    void setShown(bool shown);
    void putAway();

    QPointer<QAction> sdb_;
    QuenbyCatcher& catcher_;
    SettingsStore& store_;
    AddUrl add_;
    std::unique_ptr<DownloadBasket> basket_;
    QSet<QObject*> openDialogs_;  // compared only, never used: a dialog may be gone already
};
