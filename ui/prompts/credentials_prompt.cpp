#include "ui/prompts/credentials_prompt.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>

#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"
#include "ui/prompts/prompt_parts.h"

CredentialsPrompt::CredentialsPrompt(const TextTable& texts, QWidget* parent)
    : PromptDialog(parent) {
    setObjectName(QStringLiteral("Authen"));
    setWindowTitle(QStringLiteral("Username/Password requiered"));
    SetTag(this, 806);

    auto* picture = PromptPicture(this, QStringLiteral("dialog-password"),
                                  style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    auto* explanation = new QLabel(
        QStringLiteral("This file is protected by an authentification scheme. Please enter the "
                       "username and password for this site."),
        this);
    explanation->setObjectName(QStringLiteral("Label1"));
    SetTag(explanation, 807);
    explanation->setWordWrap(true);
    file_ = new UrlLabel(this);
    file_->setObjectName(QStringLiteral("Label4"));

    userBox_ = new QLineEdit(this);
    userBox_->setObjectName(QStringLiteral("Text1"));
    passBox_ = new QLineEdit(this);
    passBox_->setObjectName(QStringLiteral("Text2"));
    passBox_->setEchoMode(QLineEdit::Password);
    auto* userLabel = new QLabel(QStringLiteral("Username :"), this);
    userLabel->setObjectName(QStringLiteral("Label2"));
    SetTag(userLabel, 808);
    userLabel->setBuddy(userBox_);
    auto* passLabel = new QLabel(QStringLiteral("Password :"), this);
    passLabel->setObjectName(QStringLiteral("Label3"));
    SetTag(passLabel, 809);
    passLabel->setBuddy(passBox_);
    auto* form = new QFormLayout;
    form->addRow(userLabel, userBox_);
    form->addRow(passLabel, passBox_);

    keep_ = new QCheckBox(QStringLiteral("Add in the authentification list for later use"), this);
    keep_->setObjectName(QStringLiteral("Check1"));
    SetTag(keep_, 810);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* proceed =
        buttons->addButton(QStringLiteral("Continue"), QDialogButtonBox::AcceptRole);
    proceed->setObjectName(QStringLiteral("Command1"));
    SetTag(proceed, 811);
    proceed->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("Command2"));
    SetTag(cancel, 812);

    QBoxLayout* column = PromptLayout(this, picture, buttons);
    column->addWidget(explanation);
    column->addWidget(file_);
    column->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    column->addLayout(form);
    column->addWidget(keep_);
    column->addStretch(1);

    connect(proceed, &QPushButton::clicked, this, &CredentialsPrompt::proceed);
    connect(cancel, &QPushButton::clicked, this, &CredentialsPrompt::reject);

    ApplyLanguage(this, texts);
    userBox_->setFocus();
}

void CredentialsPrompt::SetInfo(const QString& file, const QString& user, const QString& pass) {
    file_->setText(file);
    userBox_->setText(user);
    passBox_->setText(pass);
    (user.isEmpty() ? userBox_ : passBox_)->setFocus();
}

bool CredentialsPrompt::KeepPass() const {
    return keep_->isChecked();
}

void CredentialsPrompt::proceed() {
    if (userBox_->text().isEmpty() && passBox_->text().isEmpty()) {
        // Window-modal and not waited for: the prompt simply stays open behind it.
        QMessageBox* box = NewMessageBox(
            QMessageBox::Warning, QStringLiteral("Please enter a non-empty user name and password"),
            QMessageBox::Ok, this);
        connect(box, &QDialog::finished, box, &QObject::deleteLater);
        box->open();
        return;
    }
    user_ = userBox_->text();
    pass_ = passBox_->text();
    answer_ = QStringLiteral("OK");
    accept();
}

void CredentialsPrompt::reject() {
    answer_ = QStringLiteral("Cancel");
    user_.clear();
    pass_.clear();
    QDialog::reject();
}
