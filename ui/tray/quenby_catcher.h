#pragma once

#include <QIcon>
#include <QSystemTrayIcon>
#include <QWidget>
#include <array>

class QAction;
class QMenu;
class TextTable;

// The tray window: never shown, it owns the notification-area icon and the small menu that
// the icon and the drop basket open. The icon's tip tells the download state, its picture is
// a five-step speed meter. The menu's entries and a click on the icon only ask; the owner
// connects them to the main window and the quit sequence.
//
// Menu entries are QActions named "openwin", "pauseall", "resumeall", "closebasket" and
// "exitmenu" in the menu "pop".
class QuenbyCatcher : public QWidget {
    Q_OBJECT
public:
    // Load: the icon is created first, then the window takes its captions from `texts`.
    explicit QuenbyCatcher(const TextTable& texts, QWidget* parent = nullptr);
    // Unload: the icon goes with the window.
    ~QuenbyCatcher() override;

    // The icon's tip, cut to the 63 characters a tray tip shows.
    void refreshMessage(const QString& text);
    // 0 shows the program icon, 1 to 4 the speed meter; other levels change nothing.
    void refreshIcon(int level);

    // The menu at `at`, the screen position of the mouse. Opened from the basket it also
    // offers closebasket, until it closes.
    void showMenu(const QPoint& at, bool fromBasket);

    // A left click or double click on the icon brings the main window back.
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon* trayIcon() const { return icon_; }
    QMenu* pop() const { return pop_; }
    int level() const { return level_; }

signals:
    void openRequested();
    void pauseAllRequested();
    void resumeAllRequested();
    void closeBasketRequested();
    void exitRequested();

private:
    QAction* entry(const char* name, const char* caption, int tag, void (QuenbyCatcher::*ask)());

    std::array<QIcon, 4> Picture1;  // the speed meter's levels 1 to 4
    QMenu* pop_ = nullptr;
    QAction* openwin_ = nullptr;
    QAction* closebasket_ = nullptr;
    QSystemTrayIcon* icon_ = nullptr;
    QString tip_;
    int level_ = 0;
};
