#pragma once

#include <QPoint>
#include <QWidget>

class QMimeData;
class SettingsStore;

// The drop basket: a 32 by 32 pixel window above all others that takes text and links
// dropped from other programs and can be dragged anywhere on the screen with the left button.
// Every HTTP and FTP address in a drop comes out of urlDropped, once each; a right click
// asks for the tray menu.
class DownloadBasket : public QWidget {
    Q_OBJECT
public:
    static constexpr int Side = 32;

    explicit DownloadBasket(QWidget* parent = nullptr);

    // Its place from the "Windows" section ("BasX", "BasY", in twips), else above the
    // middle of the screen; on the screen either way.
    void placeOnLoad(const SettingsStore& store);
    void savePosition(SettingsStore& store) const;

    // Whether a drag offering `data` can be dropped here, and the addresses a drop of it adds.
    static bool Takes(const QMimeData& data);
    static QStringList UrlsIn(const QMimeData& data);

signals:
    // After the drop has ended, so that whatever adding asks does not hold up the program
    // the drag came from.
    void urlDropped(const QString& url);
    void menuRequested(const QPoint& globalPos);
    // A close (the window manager's, a shortcut): the basket is only put away.
    void closeRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QPoint old_;  // OldX, OldY: where the left button went down, in the window
};
