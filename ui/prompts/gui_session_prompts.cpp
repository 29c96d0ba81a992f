#include "ui/prompts/gui_session_prompts.h"

#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <memory>

#include "engine/session/failure_words.h"
#include "ui/language/plain_text.h"
#include "ui/prompts/credentials_prompt.h"

namespace {

QMessageBox::Icon BoxIcon(SessionPrompts::Icon icon) {
    switch (icon) {
        case SessionPrompts::Icon::Information:
            return QMessageBox::Information;
        case SessionPrompts::Icon::Warning:
            return QMessageBox::Warning;
        case SessionPrompts::Icon::Critical:
            return QMessageBox::Critical;
        case SessionPrompts::Icon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

GuiSessionPrompts::GuiSessionPrompts(const TextTable& texts, QWidget* parent)
    : texts_(texts), parent_(parent) {}

GuiSessionPrompts::~GuiSessionPrompts() {
    for (OpenWindow& window : open_) {
        QObject::disconnect(window.finished);
        delete window.dialog.data();
    }
}

void GuiSessionPrompts::open(QDialog* dialog, std::function<void()> done) {
    std::erase_if(open_, [](const OpenWindow& w) { return w.dialog.isNull(); });
    dialog->setModal(false);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(dialog, &QDialog::finished, dialog,
                                   [dialog, connection, done = std::move(done)](int) {
                                       // Taken out first: disconnecting frees this lambda.
                                       const std::function<void()> finish = done;
                                       QDialog* const window = dialog;
                                       QObject::disconnect(*connection);
                                       window->deleteLater();
                                       finish();
                                   });
    open_.push_back({dialog, *connection});
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void GuiSessionPrompts::showMessage(const QString& text, Icon icon) {
    // The engine's reasons come in its English; the rest is worded already.
    const QString shown = FailureReason(text, texts_);
    // A batch of downloads meeting the same fault says so once, not once per download.
    std::erase_if(open_, [](const OpenWindow& w) { return w.dialog.isNull(); });
    for (const OpenWindow& w : open_) {
        const auto* open = qobject_cast<const QMessageBox*>(w.dialog.data());
        if (open != nullptr && open->property("shownText").toString() == shown) {
            return;
        }
    }
    QMessageBox* box = NewMessageBox(BoxIcon(icon), shown, QMessageBox::Ok, parent_);
    box->setProperty("shownText", shown);
    open(box, [] {});
}

void GuiSessionPrompts::askYesNo(const QString& text, std::function<void(bool yes)> answer,
                                 Preferred preferred) {
    QMessageBox* box =
        NewMessageBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box->setDefaultButton(preferred == Preferred::Yes ? QMessageBox::Yes : QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    open(box, [box, answer = std::move(answer)] {
        answer(box->clickedButton() == box->button(QMessageBox::Yes));
    });
}

void GuiSessionPrompts::askCredentials(const QString& caption, const QString& url,
                                       const QString& user, const QString& password,
                                       std::function<void(const Credentials&)> answer) {
    auto* prompt = new CredentialsPrompt(texts_, parent_);
    if (!caption.isEmpty()) {
        prompt->setWindowTitle(caption);
    }
    prompt->SetInfo(url, user, password);
    open(prompt, [prompt, answer = std::move(answer)] {
        answer({prompt->Answer() == u"OK", prompt->user(), prompt->pass(), prompt->KeepPass()});
    });
}
