#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "core/checksums/checksum.h"
#include "ui/prompts/prompt_parts.h"

class QCheckBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TextTable;
struct AddressLines;

struct NewDownloadAnswer {
    QString word;      // "NOW" or "LATER"
    QStringList urls;  // the usable lines, trimmed, one download each
    QString user;      // typed credentials (for HTTP they belong in the records)
    QString password;
    Checksum checksum{};  // the file's checksum as the user gave it; not valid(): none
};

// "Form1": the user types or pastes the addresses of files, one a line, and chooses to
// download them now, later or not at all, optionally with a user name and password. It closes
// only once every line is an address it can use (or on cancel): the lines it cannot use stay
// in the box with the reason beside them, and the usable ones of the same choice go ahead.
// An optional checksum of the file goes with a single address; one it cannot read keeps the
// dialog open with the reason, the address as typed.
class NewDownloadPrompt : public PromptDialog {
    Q_OBJECT
public:
    using AddNow = std::function<void(const NewDownloadAnswer&)>;

    explicit NewDownloadPrompt(const TextTable& texts, QWidget* parent = nullptr);

    // The address box's text as given, with the caret at its end.
    void setUrl(const QString& text);
    // The address box's first line, trimmed.
    QString url() const;
    // The usable lines of a choice that left others to correct are handed here at once.
    void setAddNow(AddNow addNow) { addNow_ = std::move(addNow); }
    // The usable lines when the user chose.
    QStringList urls() const { return urls_; }
    // "CANCEL" until the user chooses "NOW" or "LATER"; every other way out stays "CANCEL".
    QString answer() const { return answer_; }
    // The credentials applied when the user chose; empty unless the box was ticked. An FTP
    // address also carries them inside itself.
    QString user() const { return user_; }
    QString password() const { return password_; }
    // The checksum field's value when the user chose; not valid() when it was empty.
    Checksum checksum() const { return checksum_; }

    void reject() override;

private:
    void buildCredentials();
    QLayout* buildChecksumRow();
    void urlChanged();
    void showCredentials(bool shown);
    void choose(const QString& word);
    void applyCredentials();
    void showProblems(const AddressLines& lines);
    bool takeChecksum(const AddressLines& lines);

    QPlainTextEdit* url_;
    QCheckBox* needsLogin_;
    QWidget* credentials_;
    QLineEdit* userBox_;
    QLineEdit* passwordBox_;
    QLineEdit* checksumBox_;
    QPushButton* now_;
    QLabel* problems_;
    AddNow addNow_;
    QStringList urls_;
    QString answer_ = QStringLiteral("CANCEL");
    QString user_;
    QString password_;
    Checksum checksum_{};
    const TextTable& texts_;
};

// Asks modally with the address box pre-filled as given; nothing when the user cancels.
// `addNow` takes the usable lines of a choice that left lines to correct.
std::optional<NewDownloadAnswer> AskNewDownload(QWidget* parent, const TextTable& texts,
                                                const QString& prefill,
                                                NewDownloadPrompt::AddNow addNow = {});
