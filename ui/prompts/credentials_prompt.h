#pragma once

#include <QString>

#include "ui/prompts/prompt_parts.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class TextTable;

// "Authen": the server wants a user name and password for a download.
class CredentialsPrompt : public PromptDialog {
    Q_OBJECT
public:
    explicit CredentialsPrompt(const TextTable& texts, QWidget* parent = nullptr);

    // The address asked for, and the login tried so far to start from.
    void SetInfo(const QString& file, const QString& user, const QString& pass);

    // Empty while open, then "OK" or "Cancel" (every way of closing it but Continue).
    QString Answer() const { return answer_; }
    QString user() const { return user_; }
    QString pass() const { return pass_; }
    // Whether the login should be remembered for the site once the server accepts it.
    bool KeepPass() const;

    void reject() override;

private:
    void proceed();

    QLabel* file_;
    QLineEdit* userBox_;
    QLineEdit* passBox_;
    QCheckBox* keep_;
    QString answer_;
    QString user_;
    QString pass_;
};
