#pragma once

#include <QString>
#include <QStringList>

#include "ui/prompts/prompt_parts.h"

class QLabel;
class TextTable;

// "WantDown": whether to download an address found on the clipboard.
class ClipboardQuestion : public PromptDialog {
    Q_OBJECT
public:
    explicit ClipboardQuestion(const TextTable& texts, QWidget* parent = nullptr);

    // Starts a question about this (decoded) address: the answer is empty until the user picks.
    void setUrl(const QString& decodedUrl);
    // The same about several addresses at once, listed one a line.
    void setUrls(const QStringList& decodedUrls);
    // "", then "YES" or "NO"; closing the window any other way answers "NO".
    QString answer() const { return answer_; }

    void reject() override;

private:
    QLabel* url_;
    QString answer_;
};

// Asks modally, one question for every address a copied text holds; true only for "YES".
bool ConfirmClipboardUrls(QWidget* parent, const TextTable& texts, const QStringList& decodedUrls);
