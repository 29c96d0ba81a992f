#include "ui/download_window/elided_label.h"

#include <QPainter>
#include <QStyle>

#include "ui/language/plain_text.h"

void ElidedLabel::setFullText(const QString& text) {
    // An address or a file name the server gave: shown as written, never as markup.
    setTextFormat(Qt::PlainText);
    setText(text);
    setToolTip(PlainToolTip(text));
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 12, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const {
    const QSize natural = QLabel::sizeHint();
    return {std::min(natural.width(), fontMetrics().averageCharWidth() * 48), natural.height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}
