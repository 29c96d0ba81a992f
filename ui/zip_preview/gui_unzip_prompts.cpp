#include "ui/zip_preview/gui_unzip_prompts.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

QString GuiUnzipPrompts::password(const QString& memberName) {
    bool given = false;
    const QString answer =
        QInputDialog::getText(parent_, memberName, QLatin1String(kPasswordPromptText),
                              QLineEdit::Password, QString(), &given);
    return given ? answer : QString();
}

ReplaceAnswer GuiUnzipPrompts::replace(const QString& path) {
    switch (QMessageBox::warning(
        parent_, QLatin1String(kReplaceQuestionTitle), ReplaceQuestionText(path),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No)) {
        case QMessageBox::Yes:
            return ReplaceAnswer::Replace;
        case QMessageBox::No:
            return ReplaceAnswer::Keep;
        default:
            return ReplaceAnswer::KeepAll;
    }
}
