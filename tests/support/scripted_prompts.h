#pragma once

// The questions of a download and of adding one, answered from a script. Each fake records
// what it was asked and answers with the next answer the test queued; a question with none
// queued fails the test and gets the answer that does nothing (no, cancel).

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "engine/queue/add_download.h"
#include "engine/session/session_prompts.h"
#include "tests/support/script_answers.h"

// Answers come from the event loop, as a real window gives them.
class ScriptedSessionPrompts : public SessionPrompts {
public:
    std::deque<bool> yesNo;
    std::deque<Credentials> credentials;

    QStringList messages;
    QStringList questions;
    std::vector<Preferred> preferredAnswers;  // one per question
    QStringList credentialCaptions;
    QStringList credentialUrls;

    void showMessage(const QString& text, Icon icon) override;
    void askYesNo(const QString& text, std::function<void(bool)> answer,
                  Preferred preferred) override;
    void askCredentials(const QString& caption, const QString& url, const QString& user,
                        const QString& password,
                        std::function<void(const Credentials&)> answer) override;
};

class ScriptedAddPrompts : public AddPrompts {
public:
    std::deque<std::optional<QString>> savePaths;
    std::deque<bool> answers;

    QStringList errors;
    QStringList saveTitles;
    QStringList proposedNames;
    QStringList filters;
    QStringList questions;

    void showError(const QString& text) override;
    std::optional<QString> askSavePath(const QString& title, const QString& proposedName,
                                       const QString& filter) override;
    bool askYesNo(const QString& text) override;
};
