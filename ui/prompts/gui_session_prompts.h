#pragma once

#include <QMetaObject>
#include <QPointer>
#include <vector>

#include "engine/session/session_prompts.h"

class QDialog;
class QWidget;
class TextTable;

// A download's questions as windows of the desktop. Each window is shown without blocking
// and answers through its continuation when the user closes it, so the socket handler that
// asked has long returned to the event loop by then.
class GuiSessionPrompts : public SessionPrompts {
public:
    // The windows sit above `parent` (none: top-level); the table must outlive this object.
    explicit GuiSessionPrompts(const TextTable& texts, QWidget* parent = nullptr);
    // Windows still open close unanswered: the program is going away.
    ~GuiSessionPrompts() override;
    GuiSessionPrompts(const GuiSessionPrompts&) = delete;
    GuiSessionPrompts& operator=(const GuiSessionPrompts&) = delete;

    void showMessage(const QString& text, Icon icon) override;
    void askYesNo(const QString& text, std::function<void(bool yes)> answer,
                  Preferred preferred) override;
    // Opens "Authen" captioned `caption` (its own caption when empty).
    void askCredentials(const QString& caption, const QString& url, const QString& user,
                        const QString& password,
                        std::function<void(const Credentials&)> answer) override;

private:
    // Shows the window and calls `done` once, after it has closed; then the window goes.
    void open(QDialog* dialog, std::function<void()> done);

    struct OpenWindow {
        QPointer<QDialog> dialog;
        QMetaObject::Connection finished;
    };
    const TextTable& texts_;
    QPointer<QWidget> parent_;
    std::vector<OpenWindow> open_;
};
