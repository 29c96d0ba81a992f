#include "ui/prompts/prompt_parts.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QtMath>

namespace {

// Lays the text out in lines of this width, at the slashes and dots where it can, anywhere
// where it must. Returns the height used.
int LayOut(QTextLayout& layout, int width) {
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax(width, 1));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return qCeil(y);
}

// A text layout breaks lines only at the line separator, not at a line feed.
QString Laid(const QString& text) {
    QString laid = text.isEmpty() ? QStringLiteral(" ") : text;
    return laid.replace(u'\n', QChar::LineSeparator);
}

}  // namespace

UrlLabel::UrlLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int UrlLabel::textHeight(int width) const {
    QTextLayout layout(Laid(text()), font());
    return LayOut(layout, width);
}

int UrlLabel::heightForWidth(int width) const {
    const QMargins m = contentsMargins();
    return textHeight(width - m.left() - m.right()) + m.top() + m.bottom();
}

QSize UrlLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    const int full = fontMetrics().horizontalAdvance(text());
    const int width = qMin(full, fontMetrics().averageCharWidth() * 50) + m.left() + m.right();
    return {width, heightForWidth(width)};
}

QSize UrlLabel::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    const int width = fontMetrics().averageCharWidth() * 10 + m.left() + m.right();
    return {width, fontMetrics().height() + m.top() + m.bottom()};
}

void UrlLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect area = contentsRect();
    QTextLayout layout(Laid(text()), font());
    LayOut(layout, area.width());
    layout.draw(&painter, area.topLeft());
}

QLabel* PromptPicture(QWidget* parent, const QString& themeName, const QIcon& fallback) {
    auto* picture = new QLabel(parent);
    const int size = parent->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, parent);
    const QIcon icon = QIcon::fromTheme(themeName, fallback);
    picture->setPixmap(icon.pixmap(QSize(size, size), parent->devicePixelRatioF()));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return picture;
}

QBoxLayout* PromptLayout(QWidget* dialog, QLabel* picture, QDialogButtonBox* buttons) {
    auto* outer = new QVBoxLayout(dialog);
    auto* row = new QHBoxLayout;
    const int gap = dialog->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing);
    row->setSpacing(qMax(gap, 0) * 2);
    row->addWidget(picture, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    row->addLayout(column, 1);
    outer->addLayout(row, 1);
    outer->addSpacing(dialog->style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    outer->addWidget(buttons);
    return column;
}

namespace {

int PromptWidth(const QWidget* dialog) {
    return dialog->fontMetrics().averageCharWidth() * 66;
}

}  // namespace

PromptDialog::PromptDialog(QWidget* parent) : QDialog(parent) {
    setMinimumWidth(PromptWidth(this) * 2 / 3);
}

QSize PromptDialog::sizeHint() const {
    QSize size = QDialog::sizeHint();
    size.setWidth(qMax(size.width(), PromptWidth(this)));
    if (layout() != nullptr && layout()->hasHeightForWidth()) {
        size.setHeight(layout()->totalHeightForWidth(size.width()));
    }
    return size;
}
