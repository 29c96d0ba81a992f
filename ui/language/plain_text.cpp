#include "ui/language/plain_text.h"

#include <QRegularExpression>
#include <QTextDocument>

namespace {

// A run without a blank longer than this (an address, a path) cannot wrap: it is cut in the
// middle, so that no message grows wider than the screen.
constexpr qsizetype LongestWord = 80;

QString ShortenLongWords(const QString& text) {
    static const QRegularExpression word(QStringLiteral("\\S{%1,}").arg(LongestWord + 1));
    QString shown;
    qsizetype from = 0;
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        shown += text.mid(from, m.capturedStart() - from) +
                 ShortenedInTheMiddle(m.captured(), LongestWord);
        from = m.capturedEnd();
    }
    return shown + text.mid(from);
}

void SetPlainText(QMessageBox& box, const QString& text) {
    // Before the text, so that it is never laid out as markup even once.
    box.setTextFormat(Qt::PlainText);
    const QString shown = ShortenLongWords(text);
    box.setText(shown);
    // What was cut stays within reach, in a field that wraps anywhere.
    if (shown != text) {
        box.setDetailedText(text);
    }
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

QString ShortenedInTheMiddle(const QString& text, qsizetype most) {
    if (text.size() <= most) {
        return text;
    }
    const qsizetype head = most / 2;
    return text.left(head) + QStringLiteral("…") + text.right(most - head - 1);
}
