#include "ui/main_window/gui_add_prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "ui/language/plain_text.h"

GuiAddPrompts::GuiAddPrompts(QWidget* parent, const QString& folder)
    : parent_(parent), folder_(folder) {}

void GuiAddPrompts::showError(const QString& text) {
    ShowMessageBox(QMessageBox::Critical, text, QMessageBox::Ok, parent_);
}

std::optional<QString> GuiAddPrompts::askSavePath(const QString& title, const QString& proposedName,
                                                  const QString& filter) {
    const QString start = folder_.isEmpty() ? proposedName : QDir(folder_).filePath(proposedName);
    const QString path =
        QFileDialog::getSaveFileName(parent_, title, start, FileDialogFilter(filter));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path;
}

bool GuiAddPrompts::askYesNo(const QString& text) {
    return ShowMessageBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                          parent_) == QMessageBox::Yes;
}

QString FileDialogFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    if (parts.size() < 2) {
        return filter;
    }
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        // The description names its patterns itself; the dialog wants them once, its own way.
        const qsizetype open = description.lastIndexOf(u'(');
        if (open > 0 && description.endsWith(u')')) {
            description = description.left(open).trimmed();
        }
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*")) {
                pattern = QStringLiteral("*");
            }
        }
        filters << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters.join(QStringLiteral(";;"));
}
