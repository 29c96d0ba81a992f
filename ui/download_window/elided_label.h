#pragma once

#include <QLabel>

// A one-line label that shortens its text with "…" in the middle instead of widening the
// window: download addresses are often longer than any screen. The whole text stays in text()
// and in the tooltip.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    void setFullText(const QString& text);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
