#pragma once

#include <QMessageBox>
#include <QString>

// Words from elsewhere in the program's windows. A server's status line, reason or FTP reply,
// a file or archive member name, an address: any of them may look like markup, and Qt reads
// text that looks like markup as markup (links, pictures fetched from a file). These show it
// as written.

// A message box under the program's title, showing its text as plain text whatever it holds.
QMessageBox* NewMessageBox(QMessageBox::Icon icon, const QString& text,
                           QMessageBox::StandardButtons buttons, QWidget* parent,
                           const QString& title = QStringLiteral("Brenloft"));

// The same, shown modally and waited for. Returns the button pressed (the escape button's
// when the window is closed otherwise).
QMessageBox::StandardButton ShowMessageBox(
    QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
    QWidget* parent, const QString& title = QStringLiteral("Brenloft"),
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// A tooltip that shows the text as written; text without anything like markup stays as it is.
QString PlainToolTip(const QString& text);

// `text` cut to at most `most` characters with "…" in the middle, where an address keeps what
// tells it apart: its server and its file name.
QString ShortenedInTheMiddle(const QString& text, qsizetype most);
