#include "ui/preview/picture_view.h"

#include <QPainter>

PictureView::PictureView(QWidget* parent) : QWidget(parent) {}

void PictureView::setImage(const QImage& image) {
    image_ = image;
    update();
}

QRect PictureView::pictureRect() const {
    if (image_.isNull()) {
        return {};
    }
    const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
    return {QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted};
}

void PictureView::paintEvent(QPaintEvent* /*event*/) {
    if (image_.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(pictureRect(), image_);
}
