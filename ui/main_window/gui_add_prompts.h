#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "engine/queue/add_download.h"

// What adding a download asks, with real windows over the main window: the error box, the
// save-as dialog (it asks before overwriting) and the Yes/No question, all titled "Brenloft".
class GuiAddPrompts : public AddPrompts {
public:
    // The save-as dialog opens in `folder` (the download folder), else in the current folder.
    explicit GuiAddPrompts(QWidget* parent, const QString& folder = QString());

    void showError(const QString& text) override;
    std::optional<QString> askSavePath(const QString& title, const QString& proposedName,
                                       const QString& filter) override;
    bool askYesNo(const QString& text) override;

private:
    QPointer<QWidget> parent_;
    QString folder_;
};

// "All files (*.*)|*.*" as a file dialog reads it: "All files (*)". Every file matches "*.*"
// on Windows, so it stands for "*" here, where a name need not have a dot.
QString FileDialogFilter(const QString& filter);
