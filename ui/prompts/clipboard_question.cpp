#include "ui/prompts/clipboard_question.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"
#include "ui/prompts/prompt_parts.h"

ClipboardQuestion::ClipboardQuestion(const TextTable& texts, QWidget* parent)
    : PromptDialog(parent) {
    setObjectName(QStringLiteral("WantDown"));
    setWindowTitle(QStringLiteral("Brenloft Question ! Clipboard hook"));
    SetTag(this, 792);

    auto* picture = PromptPicture(this, QStringLiteral("dialog-question"),
                                  style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    auto* question = new QLabel(QStringLiteral("Do you want to download :"), this);
    question->setObjectName(QStringLiteral("Label1"));
    SetTag(question, 405);
    url_ = new UrlLabel(this);
    url_->setObjectName(QStringLiteral("Label2"));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* yes = buttons->addButton(QStringLiteral("Yes"), QDialogButtonBox::YesRole);
    yes->setObjectName(QStringLiteral("Command1"));
    SetTag(yes, 406);
    yes->setDefault(true);
    QPushButton* no = buttons->addButton(QStringLiteral("No "), QDialogButtonBox::NoRole);
    no->setObjectName(QStringLiteral("Command2"));
    SetTag(no, 407);

    QBoxLayout* column = PromptLayout(this, picture, buttons);
    column->addWidget(question);
    column->addWidget(url_);
    column->addStretch(1);

    connect(yes, &QPushButton::clicked, this, [this] {
        answer_ = QStringLiteral("YES");
        accept();
    });
    connect(no, &QPushButton::clicked, this, &ClipboardQuestion::reject);

    ApplyLanguage(this, texts);
}

void ClipboardQuestion::setUrl(const QString& decodedUrl) {
    answer_.clear();
    url_->setText(decodedUrl);
}

void ClipboardQuestion::setUrls(const QStringList& decodedUrls) {
    // A list that fits the window: the first ones, each cut in the middle when long.
    constexpr qsizetype Listed = 10;
    QStringList lines;
    for (const QString& url : decodedUrls.mid(0, Listed)) {
        lines << ShortenedInTheMiddle(url, 90);
    }
    if (decodedUrls.size() > Listed) {
        lines << QStringLiteral("(%1 more)").arg(decodedUrls.size() - Listed);
    }
    setUrl(lines.join(u'\n'));
}

void ClipboardQuestion::reject() {
    answer_ = QStringLiteral("NO");
    QDialog::reject();
}

bool ConfirmClipboardUrls(QWidget* parent, const TextTable& texts, const QStringList& decodedUrls) {
    ClipboardQuestion question(texts, parent);
    question.setUrls(decodedUrls);
    question.exec();
    return question.answer() == u"YES";
}
