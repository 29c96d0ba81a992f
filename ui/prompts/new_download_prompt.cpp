#include "ui/prompts/new_download_prompt.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QtMath>
#include <functional>

#include "core/download_list/records.h"
#include "core/text/text_table.h"
#include "core/urls/parse_url.h"
#include "ui/language/apply_language.h"
#include "ui/prompts/prompt_parts.h"

namespace {

constexpr int Lines = 3;
constexpr int Padding = 4;

// Several lines high so that a long pasted address shows whole. An address never holds a line
// break, so Enter chooses the default answer instead of starting a new line.
class UrlBox : public QPlainTextEdit {
public:
    explicit UrlBox(QWidget* parent) : QPlainTextEdit(parent) {
        setTabChangesFocus(true);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // every line wraps
        // The padding sits outside the viewport, so a line that does not fit is cut off by
        // the frame instead of peeking in half through the bottom margin.
        document()->setDocumentMargin(0);
        setViewportMargins(Padding, Padding, Padding, Padding);
        setBackgroundRole(QPalette::Base);  // the padding looks like the inside of the box
        setAutoFillBackground(true);
    }
    std::function<void()> onEnter;

    QSize sizeHint() const override {
        // Lines are laid out at fractional heights, and the scroll bar shows unless a pixel
        // is to spare below the last of them.
        const int text = qCeil(QFontMetricsF(font()).lineSpacing() * Lines) + 1;
        const int height = text + 2 * (Padding + frameWidth());
        return {QPlainTextEdit::sizeHint().width(), height};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && onEnter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            onEnter();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }
};

QString WithoutLineBreaks(QString text) {
    text.remove(u'\r');
    text.remove(u'\n');
    return text.trimmed();
}

}  // namespace

NewDownloadPrompt::NewDownloadPrompt(const TextTable& texts, QWidget* parent)
    : PromptDialog(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Enter the URL of the file to download"));
    SetTag(this, 695);

    auto* picture = PromptPicture(this, QStringLiteral("folder-download"),
                                  style()->standardIcon(QStyle::SP_ArrowDown));
    picture->setObjectName(QStringLiteral("Image1"));

    auto* urlBox = new UrlBox(this);
    url_ = urlBox;
    url_->setObjectName(QStringLiteral("Text1"));
    url_->setPlainText(QStringLiteral("http://"));

    needsLogin_ = new QCheckBox(QStringLiteral("Site requires authentification"), this);
    needsLogin_->setObjectName(QStringLiteral("Check1"));
    SetTag(needsLogin_, 657);

    credentials_ = new QWidget(this);
    auto* form = new QFormLayout(credentials_);
    // Indented under the check box's text, which they belong to.
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    form->setContentsMargins(indent, 0, 0, 0);
    userBox_ = new QLineEdit(credentials_);
    userBox_->setObjectName(QStringLiteral("Text2"));
    passwordBox_ = new QLineEdit(credentials_);
    passwordBox_->setObjectName(QStringLiteral("Text3"));
    auto* userLabel = new QLabel(QStringLiteral("Username"), credentials_);
    userLabel->setObjectName(QStringLiteral("Label1"));
    SetTag(userLabel, 658);
    userLabel->setBuddy(userBox_);
    auto* passwordLabel = new QLabel(QStringLiteral("Password"), credentials_);
    passwordLabel->setObjectName(QStringLiteral("Label2"));
    SetTag(passwordLabel, 659);
    passwordLabel->setBuddy(passwordBox_);
    form->addRow(userLabel, userBox_);
    form->addRow(passwordLabel, passwordBox_);

    auto* buttons = new QDialogButtonBox(this);
    now_ = buttons->addButton(QStringLiteral("Download Now !"), QDialogButtonBox::AcceptRole);
    now_->setObjectName(QStringLiteral("Command1"));
    SetTag(now_, 696);
    now_->setDefault(true);
    QPushButton* later =
        buttons->addButton(QStringLiteral("Download Later !"), QDialogButtonBox::AcceptRole);
    later->setObjectName(QStringLiteral("Command2"));
    SetTag(later, 697);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("Command3"));
    SetTag(cancel, 698);

    QBoxLayout* column = PromptLayout(this, picture, buttons);
    column->addWidget(url_);
    column->addWidget(needsLogin_);
    column->addWidget(credentials_);
    column->addStretch(1);

    connect(url_, &QPlainTextEdit::textChanged, this, &NewDownloadPrompt::urlChanged);
    connect(needsLogin_, &QCheckBox::toggled, this, &NewDownloadPrompt::showCredentials);
    connect(now_, &QPushButton::clicked, this, [this] { choose(QStringLiteral("NOW")); });
    connect(later, &QPushButton::clicked, this, [this] { choose(QStringLiteral("LATER")); });
    connect(cancel, &QPushButton::clicked, this, &NewDownloadPrompt::reject);
    urlBox->onEnter = [this] { now_->click(); };

    showCredentials(false);
    ApplyLanguage(this, texts);
    setUrl(url_->toPlainText());
    url_->setFocus();
}

void NewDownloadPrompt::setUrl(const QString& text) {
    url_->setPlainText(text);
    url_->moveCursor(QTextCursor::End);
}

QString NewDownloadPrompt::url() const {
    return WithoutLineBreaks(url_->toPlainText());
}

void NewDownloadPrompt::reject() {
    answer_ = QStringLiteral("CANCEL");
    QDialog::reject();
}

// An FTP address typed with its login fills the fields, so the user sees what will be sent.
void NewDownloadPrompt::urlChanged() {
    const QString text = url();
    if (!text.startsWith(QStringLiteral("ftp://"), Qt::CaseInsensitive)) {
        return;
    }
    const ParsedUrl parsed = ParseUrl(text);
    if (parsed.status == UrlValid && !parsed.user.isEmpty() && !parsed.password.isEmpty()) {
        needsLogin_->setChecked(true);
        userBox_->setText(parsed.user);
        passwordBox_->setText(parsed.password);
    }
}

void NewDownloadPrompt::showCredentials(bool shown) {
    credentials_->setEnabled(shown);
    credentials_->setVisible(shown);
    // Fold the window back when the fields go away; it grows by itself when they come.
    if (isVisible()) {
        layout()->activate();
        resize(width(), minimumSizeHint().height());
    }
}

void NewDownloadPrompt::choose(const QString& word) {
    applyCredentials();
    answer_ = word;
    accept();
}

// FTP sends its login inside the address, so the fields replace the address's own.
void NewDownloadPrompt::applyCredentials() {
    if (!needsLogin_->isChecked()) {
        return;
    }
    user_ = userBox_->text();
    password_ = passwordBox_->text();
    const ParsedUrl parsed = ParseUrl(url());
    if (parsed.status != UrlValid || parsed.protocol != Protocol::Ftp) {
        return;
    }
    QString rebuilt = QStringLiteral("ftp://");
    if (!user_.isEmpty()) {
        rebuilt += user_ + u':' + password_ + u'@';
    }
    rebuilt += parsed.host;
    if (parsed.port != 21) {
        rebuilt += u':' + QString::number(parsed.port);
    }
    setUrl(rebuilt + parsed.path);
}

std::optional<NewDownloadAnswer> AskNewDownload(QWidget* parent, const TextTable& texts,
                                                const QString& prefill) {
    NewDownloadPrompt prompt(texts, parent);
    prompt.setUrl(prefill);
    prompt.exec();
    if (prompt.answer() != u"NOW" && prompt.answer() != u"LATER") {
        return std::nullopt;
    }
    return NewDownloadAnswer{prompt.answer(), prompt.url(), prompt.user(), prompt.password()};
}
