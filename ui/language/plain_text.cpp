#include "ui/language/plain_text.h"

#include <QTextDocument>

namespace {

void SetPlainText(QMessageBox& box, const QString& text) {
    // Before the text, so that it is never laid out as markup even once.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
}

}  // namespace

QMessageBox* NewMessageBox(QMessageBox::Icon icon, const QString& text,
                           QMessageBox::StandardButtons buttons, QWidget* parent,
                           const QString& title) {
    auto* box = new QMessageBox(icon, title, QString(), buttons, parent);
    SetPlainText(*box, text);
    return box;
}

QMessageBox::StandardButton ShowMessageBox(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons, QWidget* parent,
                                           const QString& title,
                                           QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, title, QString(), buttons, parent);
    SetPlainText(box, text);
    if (defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(defaultButton);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString PlainToolTip(const QString& text) {
    // A tooltip has no plain-text mode: markup that shows the escaped text keeps its lines.
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}
