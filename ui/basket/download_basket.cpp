#include "ui/basket/download_basket.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "core/settings/settings.h"
#include "core/urls/address_lines.h"
#include "ui/basket/basket_placement.h"
#include "ui/tray/program_icons.h"

namespace {

const QString kUriList = QStringLiteral("text/uri-list");

// "text/plain" with or without a character set.
bool OffersPlainText(const QMimeData& data) {
    const QStringList formats = data.formats();
    return std::any_of(formats.begin(), formats.end(), [](const QString& format) {
        return format == QLatin1String("text/plain") ||
               format.startsWith(QLatin1String("text/plain;"));
    });
}

QRect ScreenRectAt(const QPoint& point, const QWidget* widget) {
    if (QScreen* screen = QGuiApplication::screenAt(point)) {
        return screen->geometry();
    }
    if (QScreen* screen = widget->screen()) {
        return screen->geometry();
    }
    return QRect(QPoint(0, 0), widget->size());
}

}  // namespace

DownloadBasket::DownloadBasket(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("DownloadBasket"));
    setWindowTitle(QStringLiteral("Form4"));
    setWindowIcon(ProgramIcon());
    setFixedSize(Side, Side);
    setAcceptDrops(true);
    // The tile's rounded corners show the desktop, not a square of window background; a shape
    // rather than transparency, which needs a compositor.
    QBitmap shape(size());
    shape.fill(Qt::color0);
    QPainter painter(&shape);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::color1);
    painter.drawRoundedRect(rect(), 6, 6);
    painter.end();
    setMask(shape);
}

void DownloadBasket::placeOnLoad(const SettingsStore& store) {
    const QScreen* primary = QGuiApplication::primaryScreen();
    QPoint at = BasketHomePosition(size(), primary ? primary->geometry() : QRect());
    const auto x = ReadWindowPixels(store, QStringLiteral("BasX"));
    const auto y = ReadWindowPixels(store, QStringLiteral("BasY"));
    if (x && y) {
        at = QPoint(*x, *y);
    }
    // A place saved on a screen that is gone would leave the basket out of reach.
    const QPoint middle = at + QPoint(Side / 2, Side / 2);
    QRect screen = NearestScreen(middle, ScreenGeometries());
    if (screen.isEmpty()) {
        screen = ScreenRectAt(middle, this);
    }
    move(KeepOnScreen(at, size(), screen));
}

void DownloadBasket::savePosition(SettingsStore& store) const {
    WriteWindowPixels(store, QStringLiteral("BasX"), x());
    WriteWindowPixels(store, QStringLiteral("BasY"), y());
}

bool DownloadBasket::Takes(const QMimeData& data) {
    return OffersPlainText(data) || data.hasFormat(kUriList);
}

QStringList DownloadBasket::UrlsIn(const QMimeData& data) {
    return DroppedAddresses(data);
}

void DownloadBasket::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The tile's own border colour under its soft edge.
    painter.fillRect(rect(), QColor(0x0b, 0x32, 0x66));
    ProgramIcon().paint(&painter, rect());
}

void DownloadBasket::dragEnterEvent(QDragEnterEvent* event) {
    if (Takes(*event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void DownloadBasket::dragMoveEvent(QDragMoveEvent* event) {
    if (Takes(*event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void DownloadBasket::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    if (data == nullptr || !Takes(*data)) {
        event->ignore();
        return;
    }
    const QStringList urls = UrlsIn(*data);
    if (event->possibleActions() & Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->acceptProposedAction();
    }
    // The drag's source waits for the drop to finish: prompts that adding may show (save as,
    // download again?) come after it.
    QMetaObject::invokeMethod(
        this,
        [this, urls] {
            for (const QString& url : urls) {
                emit urlDropped(url);
            }
        },
        Qt::QueuedConnection);
}

void DownloadBasket::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        old_ = event->position().toPoint();
    }
}

void DownloadBasket::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        return;
    }
    // From the pointer's place on the screen rather than in the window: the window may not
    // have reached the last place asked for yet, and the difference would add up.
    const QPoint global = event->globalPosition().toPoint();
    move(KeepOnScreen(global - old_, size(), ScreenRectAt(global, this)));
}

void DownloadBasket::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit menuRequested(event->globalPosition().toPoint());
    }
}

void DownloadBasket::closeEvent(QCloseEvent* event) {
    // It lives as long as the program; closing it only puts it away, through its owner, so that
    // the main window's check mark follows.
    event->ignore();
    emit closeRequested();
}
