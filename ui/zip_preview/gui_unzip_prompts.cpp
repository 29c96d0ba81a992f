#include "ui/zip_preview/gui_unzip_prompts.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

#include "ui/language/plain_text.h"

QString GuiUnzipPrompts::password(const QString& memberName) {
    bool given = false;
    const QString answer =
        QInputDialog::getText(parent_, memberName, QLatin1String(kPasswordPromptText),
                              QLineEdit::Password, QString(), &given);
    return given ? answer : QString();
}

ReplaceAnswer GuiUnzipPrompts::replace(const QString& path) {
    // The path holds a member name the archive chose.
    switch (ShowMessageBox(QMessageBox::Warning, ReplaceQuestionText(path),
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent_,
                           QLatin1String(kReplaceQuestionTitle), QMessageBox::No)) {
        case QMessageBox::Yes:
            return ReplaceAnswer::Replace;
        case QMessageBox::No:
            return ReplaceAnswer::Keep;
        default:
            return ReplaceAnswer::KeepAll;
    }
}
