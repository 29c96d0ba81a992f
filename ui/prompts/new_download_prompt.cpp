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
#include "core/urls/address_lines.h"
#include "core/urls/parse_url.h"
#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"
#include "ui/prompts/prompt_parts.h"

namespace {

constexpr int Lines = 3;
constexpr int Padding = 4;

// Several lines high so that a long pasted address shows whole. Each line is an address of its
// own; Enter chooses the default answer (a paste brings its own line breaks).
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

}  // namespace

NewDownloadPrompt::NewDownloadPrompt(const TextTable& texts, QWidget* parent)
    : PromptDialog(parent), texts_(texts) {
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

    buildCredentials();
    QLayout* checksumRow = buildChecksumRow();
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
    problems_ = new UrlLabel(this);
    problems_->setObjectName(QStringLiteral("Problems"));
    problems_->hide();

    column->addWidget(url_);
    column->addWidget(problems_);
    column->addLayout(checksumRow);
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

// User and password, shown under the check box when the site wants them.
void NewDownloadPrompt::buildCredentials() {
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
}

QLayout* NewDownloadPrompt::buildChecksumRow() {
    checksumBox_ = new QLineEdit(this);
    checksumBox_->setObjectName(QStringLiteral("TextChecksum"));
    checksumBox_->setPlaceholderText(QStringLiteral("sha-256=…"));
    auto* checksumLabel = new QLabel(QStringLiteral("Checksum:"), this);
    checksumLabel->setObjectName(QStringLiteral("LabelChecksum"));
    SetTag(checksumLabel, 1364);
    checksumLabel->setBuddy(checksumBox_);
    auto* checksumRow = new QHBoxLayout;
    checksumRow->addWidget(checksumLabel);
    checksumRow->addWidget(checksumBox_, 1);
    return checksumRow;
}

void NewDownloadPrompt::setUrl(const QString& text) {
    url_->setPlainText(text);
    url_->moveCursor(QTextCursor::End);
}

QString NewDownloadPrompt::url() const {
    const QString text = url_->toPlainText();
    return text.left(text.indexOf(u'\n')).remove(u'\r').trimmed();
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
    const AddressLines lines = CheckAddressLines(url_->toPlainText());
    if (!takeChecksum(lines)) {
        return;
    }
    if (lines.refused.isEmpty() && !lines.usable.isEmpty()) {
        urls_ = lines.usable;
        answer_ = word;
        accept();
        return;
    }
    // What can go, goes; the box keeps only the lines the user has to correct.
    if (!lines.usable.isEmpty() && addNow_) {
        addNow_(NewDownloadAnswer{word, lines.usable, user_, password_, {}});
        QStringList kept;
        for (const RefusedLine& refused : lines.refused) {
            kept << refused.line;
        }
        setUrl(kept.join(u'\n'));
    }
    showProblems(lines);
}

// A checksum belongs to the one file it names: nothing goes while it is unreadable or while the
// box holds more than one line.
bool NewDownloadPrompt::takeChecksum(const AddressLines& lines) {
    checksum_ = {};
    if (checksumBox_->text().trimmed().isEmpty()) {
        return true;
    }
    int problem = 0;
    if (const std::optional<Checksum> given = ParseChecksum(checksumBox_->text())) {
        checksum_ = *given;
        problem = lines.usable.size() + lines.refused.size() > 1 ? 1366 : 0;
    } else {
        problem = 1365;
    }
    if (problem == 0) {
        return true;
    }
    checksum_ = {};
    problems_->setText(texts_.text(problem));
    problems_->show();
    checksumBox_->setFocus();
    return false;
}

void NewDownloadPrompt::showProblems(const AddressLines& lines) {
    QString text = QStringLiteral("Type or paste the address of a file, one a line.");
    if (lines.refused.size() == 1) {
        text = QStringLiteral(
            "This line is not an address Brenloft can download; correct it or "
            "cancel:");
    } else if (lines.refused.size() > 1) {
        text = QStringLiteral(
            "These lines are not addresses Brenloft can download; correct them "
            "or cancel:");
    }
    for (const RefusedLine& refused : lines.refused) {
        text += QStringLiteral("\n") + ShortenedInTheMiddle(refused.line, 90) +
                QStringLiteral(" — ") + refused.why;
    }
    problems_->setText(text);
    problems_->show();
    url_->setFocus();
}

// FTP sends its login inside the address, so the fields replace the address's own.
void NewDownloadPrompt::applyCredentials() {
    if (!needsLogin_->isChecked()) {
        return;
    }
    user_ = userBox_->text();
    password_ = passwordBox_->text();
    // An FTP login goes into the address only when the box holds that one address.
    const ParsedUrl parsed = ParseUrl(url());
    const bool oneLine = url_->toPlainText().trimmed().count(u'\n') == 0;
    if (!oneLine || parsed.status != UrlValid || parsed.protocol != Protocol::Ftp) {
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
                                                const QString& prefill,
                                                NewDownloadPrompt::AddNow addNow) {
    NewDownloadPrompt prompt(texts, parent);
    prompt.setUrl(prefill);
    prompt.setAddNow(std::move(addNow));
    prompt.exec();
    if (prompt.answer() != u"NOW" && prompt.answer() != u"LATER") {
        return std::nullopt;
    }
    return NewDownloadAnswer{prompt.answer(), prompt.urls(), prompt.user(), prompt.password(),
                             prompt.checksum()};
}
