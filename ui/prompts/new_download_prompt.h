#pragma once

#include <QString>
#include <optional>

#include "ui/prompts/prompt_parts.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TextTable;

// "Form1": the user types or pastes the address of a file and chooses to download it now,
// later or not at all, optionally with a user name and password.
class NewDownloadPrompt : public PromptDialog {
    Q_OBJECT
public:
    explicit NewDownloadPrompt(const TextTable& texts, QWidget* parent = nullptr);

    // The address box's text as given, with the caret at its end.
    void setUrl(const QString& text);
    // The address box without line breaks and surrounding blanks.
    QString url() const;
    // "CANCEL" until the user chooses "NOW" or "LATER"; every other way out stays "CANCEL".
    QString answer() const { return answer_; }
    // The credentials applied when the user chose; empty unless the box was ticked. An FTP
    // address also carries them inside itself.
    QString user() const { return user_; }
    QString password() const { return password_; }

    void reject() override;

private:
    void urlChanged();
    void showCredentials(bool shown);
    void choose(const QString& word);
    void applyCredentials();

    QPlainTextEdit* url_;
    QCheckBox* needsLogin_;
    QWidget* credentials_;
    QLineEdit* userBox_;
    QLineEdit* passwordBox_;
    QPushButton* now_;
    QString answer_ = QStringLiteral("CANCEL");
    QString user_;
    QString password_;
};

struct NewDownloadAnswer {
    QString word;  // "NOW" or "LATER"
    QString url;   // line breaks removed, trimmed; whether it is usable is the caller's to judge
    QString user;  // typed credentials (for HTTP they belong in the record)
    QString password;
};

// Asks modally with the address box pre-filled as given; nothing when the user cancels.
std::optional<NewDownloadAnswer> AskNewDownload(QWidget* parent, const TextTable& texts,
                                                const QString& prefill);
